// systemd as the service manager: whether it runs, whether it started us, the notifications
// and journal lines we send it, and its D-Bus API for units and jobs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

// systemd is the running init (/run/systemd/system exists).
bool ServiceManagerRunning();

// This process is a service that systemd started itself: $NOTIFY_SOCKET or $INVOCATION_ID is
// set, and, where systemd says which process it started ($SYSTEMD_EXEC_PID), that process is
// this one. The last test keeps a program started from a shell inside some service's
// environment (a terminal that runs as a user service) from taking itself for the service.
bool StartedByServiceManager();

// Sends newline-separated assignments ("READY=1\nSTATUS=...") to the manager's notification
// socket. False when there is no socket or the message could not be sent.
bool NotifyServiceManager(std::string_view assignments);

// The watchdog interval systemd asked for, in microseconds; 0 when the watchdog is off.
uint64_t WatchdogIntervalUs();

// Journal priorities used by the log.
enum class JournalPriority { kError, kWarning, kInfo, kDebug };

// Writes one line to the journal with its priority and, when channel > 0, the field
// VELLUMORA_CHANNEL. Nothing happens when no journal listens.
void SendToJournal(JournalPriority priority, std::string_view message, int32_t channel);

// This process may manage system units by itself (it runs as root).
bool MayManageUnitsAsRoot();

// A unit as the manager knows it.
struct UnitInfo {
  std::string loadState;     // "loaded", "not-found", "masked", ...
  std::string activeState;   // "active", "inactive", "activating", "failed", ...
  std::string fragmentPath;  // the unit file, empty when there is none
  std::string fileState;     // "enabled", "disabled", "static", ...; empty when unknown
};

// How a start or stop job ended.
enum class JobOutcome {
  kDone,      // the job completed
  kFailed,    // the job ended with another result ("failed", "timeout", "canceled", ...)
  kRefused,   // the manager did not accept the request
  kTimedOut,  // no result within the bound we gave it
};

// One connection to the service manager on the system bus.
class ServiceManagerBus {
 public:
  // Connects to the system bus ($DBUS_SYSTEM_BUS_ADDRESS when set), or to `address` when it
  // is not empty. With `interactive` the manager may ask polkit to question the user before it
  // acts for a non-root caller. Null, with the reason in *error, when no connection is made.
  static std::unique_ptr<ServiceManagerBus> Open(const std::string& address, bool interactive,
                                                 std::string* error);
  ~ServiceManagerBus();
  ServiceManagerBus(const ServiceManagerBus&) = delete;
  ServiceManagerBus& operator=(const ServiceManagerBus&) = delete;

  // The unit `name` ("vellumora.service") as the manager sees it.
  bool GetUnit(const std::string& name, UnitInfo* info, std::string* error);
  // polkit lets this (non-root) process manage system units, at once or after asking for an
  // administrator's password. False when it does not, or polkit cannot be asked.
  bool PolkitAllowsManagingUnits();
  // Makes the manager read the unit files again.
  bool Reload(std::string* error);
  // Enables or disables the unit file `name` (its [Install] links).
  bool EnableUnitFile(const std::string& name, std::string* error);
  bool DisableUnitFile(const std::string& name, std::string* error);
  // Starts or stops `name` (mode "replace") and waits up to timeoutMs for the job to end,
  // calling `whileWaiting` about every 100 ms.
  JobOutcome StartUnit(const std::string& name, int32_t timeoutMs,
                       const std::function<void()>& whileWaiting, std::string* error);
  JobOutcome StopUnit(const std::string& name, int32_t timeoutMs,
                      const std::function<void()>& whileWaiting, std::string* error);

  struct Impl;

 private:
  explicit ServiceManagerBus(std::unique_ptr<Impl> impl);
  JobOutcome RunJob(const char* method, const std::string& name, int32_t timeoutMs,
                    const std::function<void()>& whileWaiting, std::string* error);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vellumora
