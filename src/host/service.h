// C_VAZService: what the program knows about, and does with, its system service. The service
// manager is systemd: the service is the unit "vellumora.service".
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "kernel/service-port.h"

namespace vellumora {

class C_KLog;

// Control codes the handler acts on.
inline constexpr int32_t kControlStop = 1;
inline constexpr int32_t kControlPause = 2;
inline constexpr int32_t kControlContinue = 3;
inline constexpr int32_t kControlInterrogate = 4;

// An in-process auto-reset event: Set signals it, a zero-time wait takes the signal away.
class ServiceEvent {
 public:
  explicit ServiceEvent(const char* name) : name_(name) {}
  void Set() { signalled_.store(true); }
  // The zero-time wait: true, and no longer signalled, when it was signalled.
  bool TryWait() { return signalled_.exchange(false); }
  const char* name() const { return name_; }

 private:
  const char* name_;
  std::atomic<bool> signalled_{false};
};

class C_VAZService final : public ServicePort {
 public:
  using ServiceMainProc = void (*)();
  using ControlHandlerProc = void (*)(int32_t code);

  // Where the object finds systemd. The defaults describe this machine; tests point them at a
  // private bus and a folder of their own.
  struct Environment {
    bool managerRunning = false;    // systemd is the running init
    bool startedByManager = false;  // systemd started this process as a service
    std::string busAddress;         // empty: the system bus
    std::string unitDirectory;      // where the unit file lives
    // The install prepares this machine for the unit: it makes the service account, checks
    // that the account can run the program, and gives it the data folder. Tests that install
    // into a private unit folder leave the machine alone.
    bool prepareMachine = false;
    std::string dataFolder;  // the service's data folder (/var/lib/Vellumora)
    static Environment OfThisMachine();
  };

  // Asks systemd whether the unit is installed (written by the install, or shipped by a
  // package and enabled or running) and running. Never fails: failures are left
  // in lastError and leave the service not installed and not running.
  C_VAZService(std::string serviceName, ServiceMainProc serviceMain,
               ControlHandlerProc controlHandler, bool autoStart,
               Environment environment = Environment::OfThisMachine());
  ~C_VAZService() override;
  C_VAZService(const C_VAZService&) = delete;
  C_VAZService& operator=(const C_VAZService&) = delete;

  // Writes the unit file for executablePath and accountName, reloads systemd and enables the
  // unit (autoStart) or disables it. Refuses a program the unit could not run (below /tmp,
  // which the unit's private /tmp hides, or not executable for the account). On this machine
  // it first makes the service account kServiceAccount when that is the account and it is
  // missing, and gives the account the data folder.
  bool InstallService();
  // As root: gives the service's data folder to the account the unit runs as (made when
  // missing; root-owned folders and single-link files in it are handed over, nothing else).
  bool PrepareDataFolder();
  // Disables the unit, deletes its file and reloads systemd. Stops nothing. A unit file that
  // a package installed is only disabled.
  bool RemoveService();
  // Asks systemd to start the unit and waits (at most startTimeoutMs) until it runs.
  bool StartInstalledService();
  // Asks systemd to stop the unit and waits (at most stopTimeoutMs) until it has stopped.
  bool StopInstalledService();
  // When systemd started this process: runs ServiceMain on a service thread while this
  // (main) thread waits for SIGTERM or SIGINT, which become the stop control, and returns true
  // once ServiceMain has returned. Otherwise false at once.
  bool RunDispatcher();
  // Called by ServiceMain in service mode: reports the running state and sets `running`.
  bool RegisterHandler();
  // Stores `state` in currentState and tells systemd: running is READY=1, stop pending is
  // STOPPING=1 with the wait hint as EXTEND_TIMEOUT_USEC.
  void ReportStatus(int32_t state, int32_t checkPoint, int32_t waitHintMs, int32_t controlsAccepted,
                    int32_t exitCode) override;
  // The control handler's rules: a repeat of the last code is ignored; stop, pause and
  // continue signal their event; anything else (interrogate) re-reports the current state.
  void HandleControl(int32_t code);

  // The scan loop's view (ServicePort).
  bool Running() const override { return running; }
  // The stop control arrived: the engine takes no further file.
  bool StopControlReceived() const override { return stopControlReceived_.load(); }
  bool StopEventSignalled() override;
  // Tells systemd's watchdog that the engine is alive (rate-limited; nothing without one).
  void KeepAlive() override;
  // The last status line, as systemd shows it beside the unit (service mode only). A line
  // the engine's own thread writes also proves to the watchdog that the engine is alive
  // (start-up checks many printers before the scan loop runs).
  void ShowStatus(const std::string& text);

  // The unit file InstallService writes, and its place. Empty with the reason in *error when
  // executablePath or accountName cannot stand in a unit file.
  std::string UnitFileText(std::string* error) const;
  std::string UnitFilePath() const;
  std::string UnitName() const;

  bool autoStart;
  int32_t checkPoint = 1;
  std::string executablePath;
  std::string displayName;
  std::string serviceName;
  std::string accountName;
  std::string accountPassword;  // not used by systemd: an account needs no password there
  std::atomic<int32_t> currentState{0};
  std::atomic<int32_t> lastControl{0};
  ServiceEvent stopEvent{"StopEvent"};
  ServiceEvent pauseEvent{"PauseEvent"};
  ServiceEvent continueEvent{"ContinueEvent"};
  C_KLog* log = nullptr;  // attached by the start-up

  bool isWindowsNT = false;  // a service manager (systemd) is available
  bool installed = false;
  bool dispatcherMode = false;
  bool running = false;
  bool adminRights = false;
  std::string lastError;
  // What systemd or the file system said about the last failure; lastError keeps the fixed
  // texts the windows show, this tells an administrator why.
  std::string lastErrorCause;

  // Bounds of the waits for the started and the stopped state; the stop bound is longer than
  // the stop-pending hint the service reports.
  int32_t startTimeoutMs = 30000;
  int32_t stopTimeoutMs = 40000;

 private:
  void Logged(const std::string& text);
  bool Failed(const std::string& text, bool logged);
  bool PrepareMachineForUnit(const std::string& user);

  ServiceMainProc serviceMain_;
  ControlHandlerProc controlHandler_;
  Environment environment_;
  uint64_t watchdogUs_ = 0;
  std::atomic<int64_t> lastKeepAliveUs_{0};
  std::atomic<std::thread::id> serviceThread_{};
  std::atomic<bool> stopControlReceived_{false};
};

}  // namespace vellumora
