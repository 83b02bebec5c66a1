// The service object on systemd: the unit's state, install and removal as a unit file, start
// and stop as manager jobs, the process's own run as a notify service.
#include "host/service.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "host/service-folders.h"
#include "host/unit-file.h"
#include "kernel/kernel.h"
#include "kernel/klog.h"
#include "platform/account-access.h"
#include "platform/accounts.h"
#include "platform/file-disposal.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/service-manager.h"
#include "platform/stop-signals.h"

namespace vellumora {

namespace {

// A unit file is a few kilobytes; anything longer is not ours.
constexpr std::size_t kUnitFileMaxBytes = 64 * 1024;
constexpr int32_t kSignalPollMs = 200;

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A status or notification text on one line: a line break in a file name must not become an
// assignment of its own ("READY=1", "MAINPID=...") in what systemd reads.
std::string OneLine(const std::string& text) {
  std::string out = text.substr(0, 1024);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return out;
}

std::string LowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Whether the unit is the installed service. A unit file in the administrator's folder was
// written by the install and counts, also when it is started on demand only. The unit file a
// package ships stays disabled until the administrator enables it: until then, and while it
// does not run, it is no installed service, so a desktop start beside it scans by itself.
bool CountsAsInstalled(const UnitInfo& unit, const std::string& ownFile) {
  if (unit.loadState != "loaded") return false;
  if (unit.fragmentPath.empty() || unit.fragmentPath == ownFile) return true;
  return unit.fileState != "disabled" ||
         (unit.activeState != "inactive" && unit.activeState != "failed");
}

// The unit runs or is on its way up or down: systemd can still be asked to stop it.
bool IsActive(const UnitInfo& unit) {
  return unit.activeState == "active" || unit.activeState == "activating" ||
         unit.activeState == "deactivating" || unit.activeState == "reloading";
}

}  // namespace

C_VAZService::Environment C_VAZService::Environment::OfThisMachine() {
  Environment e;
  e.managerRunning = ServiceManagerRunning();
  e.startedByManager = StartedByServiceManager();
  e.unitDirectory = kUnitDirectory;
  e.prepareMachine = true;
  e.dataFolder = "/var/lib/Vellumora";
  return e;
}

C_VAZService::C_VAZService(std::string name, ServiceMainProc serviceMain,
                           ControlHandlerProc controlHandler, bool autoStartFlag,
                           Environment environment)
    : autoStart(autoStartFlag),
      displayName(name),
      serviceName(std::move(name)),
      serviceMain_(serviceMain),
      controlHandler_(controlHandler),
      environment_(std::move(environment)) {
  // Until the manager says otherwise, the service would run this very executable.
  executablePath = ExecutablePath();
  if (executablePath.empty()) {
    const std::string dir = CurrentDirectory();
    executablePath = dir + (dir.size() > 1 ? "/" : "") + serviceName;
  }
  watchdogUs_ = WatchdogIntervalUs();

  isWindowsNT = environment_.managerRunning;
  if (isWindowsNT) {
    std::string cause;
    auto bus = ServiceManagerBus::Open(environment_.busAddress, false, &cause);
    // Root may; an administrator may where polkit allows it (it asks for the password when
    // the service is installed, started or stopped).
    adminRights = MayManageUnitsAsRoot() || (bus && bus->PolkitAllowsManagingUnits());
    UnitInfo unit;
    if (!bus || !bus->GetUnit(UnitName(), &unit, &cause)) {
      lastError = "ERROR Could not open SCManager!";
      lastErrorCause = cause;
    } else if (!CountsAsInstalled(unit, UnitFilePath())) {
      // A unit whose file was removed while it ran is still the running service until it
      // stops: a desktop start must not scan beside it, and it can still be stopped.
      running = IsActive(unit);
    } else {
      installed = true;
      running = unit.activeState == "active";
      std::string text, why;
      const std::string file = unit.fragmentPath.empty() ? UnitFilePath() : unit.fragmentPath;
      const ReadStatus status = ReadRegularFile(file, &text, &why, kUnitFileMaxBytes);
      if (status == ReadStatus::kRead) {
        UnitFileFacts facts = ReadUnitFileText(text);
        if (!facts.executable.empty()) executablePath = facts.executable;
        // A unit without User= runs as root.
        accountName = facts.user.empty() ? "root" : facts.user;
      } else {
        const int code = status == ReadStatus::kMissing    ? 2
                         : status == ReadStatus::kNoAccess ? 13
                                                           : 5;
        char buffer[600];
        std::snprintf(buffer, sizeof buffer, "ERROR %i in %s: %s", code, "QueryServiceConfig",
                      why.c_str());
        lastError = buffer;
      }
    }
  }
  // A process that systemd started is the service, installed and not yet running, even when
  // the manager could not be asked.
  if (environment_.startedByManager) {
    installed = true;
    running = false;
  }
}

C_VAZService::~C_VAZService() = default;

std::string C_VAZService::UnitName() const {
  return LowerCase(serviceName) + ".service";
}

std::string C_VAZService::UnitFilePath() const {
  return environment_.unitDirectory + "/" + UnitName();
}

std::string C_VAZService::UnitFileText(std::string* error) const {
  return vellumora::UnitFileText(executablePath, ServiceUser(accountName), error);
}

void C_VAZService::Logged(const std::string& text) {
  if (log) log->AddLine(text);
}

bool C_VAZService::Failed(const std::string& text, bool logged) {
  lastError = text;
  if (logged) Logged(text);
  return false;
}

bool C_VAZService::InstallService() {
  lastErrorCause.clear();
  if (!isWindowsNT) return Failed("Could not open SCManager to create service!", true);
  auto bus = ServiceManagerBus::Open(environment_.busAddress, true, &lastErrorCause);
  if (!bus) return Failed("Could not open SCManager to create service!", true);

  const std::string text = UnitFileText(&lastErrorCause);
  if (text.empty()) return Failed("Could not create service!", true);
  const std::string user = ServiceUser(accountName);
  const std::string hiddenBelow = HiddenFromTheService(executablePath);
  if (!hiddenBelow.empty()) {
    lastErrorCause = executablePath + " lies below " + hiddenBelow +
                     ", which the service does not see (below /tmp, /var/tmp and /dev it has "
                     "private folders): install the program elsewhere (the package, or cmake "
                     "--install)";
    return Failed("Could not create service!", true);
  }
  if (environment_.prepareMachine && !PrepareMachineForUnit(user))
    return Failed("Could not create service!", true);
  const std::string file = UnitFilePath();
  const bool written = !text.empty() && ReplaceFile(file, text, &lastErrorCause, true, 0644);
  const bool enabled = written && bus->Reload(&lastErrorCause) &&
                       (autoStart ? bus->EnableUnitFile(UnitName(), &lastErrorCause)
                                  : bus->DisableUnitFile(UnitName(), &lastErrorCause));
  if (!enabled) return Failed("Could not create service!", true);
  installed = true;
  Logged("Service successfully installed");
  lastError.clear();
  return true;
}

bool C_VAZService::PrepareMachineForUnit(const std::string& user) {
  if (user == kServiceAccount) {
    if (!EnsureServiceAccount(user, kDataGroup, environment_.dataFolder, &lastErrorCause))
      return false;
  } else if (!user.empty() && !LookUpAccount(user, &lastErrorCause)) {
    return false;
  }
  if (!MayExecuteAs(executablePath, user, &lastErrorCause)) return false;
  return PrepareDataFolder();
}

bool C_VAZService::PrepareDataFolder() {
  if (environment_.dataFolder.empty()) return true;
  const std::string user = ServiceUser(accountName);
  // The service may not change owners: the folder it writes is given to it beforehand.
  if (user.empty())
    return ShareDataFolder(environment_.dataFolder, kDataGroup, {}, &lastErrorCause);
  const std::optional<AccountIds> account = LookUpAccount(user, &lastErrorCause);
  return account &&
         GiveDataFolderTo(environment_.dataFolder, account->uid, kDataGroup, &lastErrorCause);
}

bool C_VAZService::RemoveService() {
  lastError.clear();
  lastErrorCause.clear();
  if (!isWindowsNT) return Failed("Could not open SCManager to delete!", true);
  auto bus = ServiceManagerBus::Open(environment_.busAddress, true, &lastErrorCause);
  if (!bus) return Failed("Could not open SCManager to delete!", true);
  const std::string file = UnitFilePath();
  const bool ownFile = FileExists(file);
  if (!ownFile) {
    // A packaged unit the administrator enabled is removed by disabling it: its file belongs
    // to the package and stays, disabled, as it was installed.
    UnitInfo unit;
    std::string ignored;
    if (!bus->GetUnit(UnitName(), &unit, &ignored) || unit.fragmentPath.empty() ||
        !CountsAsInstalled(unit, file)) {
      lastErrorCause = file + " does not exist";
      return Failed("Could not open service to delete", true);
    }
  }
  bool deleted = bus->DisableUnitFile(UnitName(), &lastErrorCause);
  if (deleted && ownFile && !RemoveFile(file)) {
    lastErrorCause = "cannot delete " + file;
    deleted = false;
  }
  if (deleted) deleted = bus->Reload(&lastErrorCause);
  if (!deleted) Failed("Could not delete service", true);
  if (!lastError.empty()) return false;
  Logged("Service successfully deleted");
  dispatcherMode = false;
  installed = false;
  return true;
}

namespace {

// The service manager's bus and the state of the installed unit `name`, for starting and
// stopping it. Null when the manager cannot be asked (*managerAnswered false) or the unit is
// not installed, with the reason in *cause.
std::unique_ptr<ServiceManagerBus> OpenInstalledUnit(const std::string& busAddress,
                                                     const std::string& name, UnitInfo* unit,
                                                     bool* managerAnswered, std::string* cause) {
  auto bus = ServiceManagerBus::Open(busAddress, true, cause);
  *managerAnswered = bus != nullptr;
  if (!bus) return nullptr;
  if (!bus->GetUnit(name, unit, cause) || (unit->loadState != "loaded" && !IsActive(*unit))) {
    if (cause->empty()) *cause = name + " is not installed";
    return nullptr;
  }
  return bus;
}

}  // namespace

bool C_VAZService::StartInstalledService() {
  lastErrorCause.clear();
  if (!isWindowsNT) return Failed("Could not open SCManager!", false);
  UnitInfo unit;
  bool answered = false;
  auto bus =
      OpenInstalledUnit(environment_.busAddress, UnitName(), &unit, &answered, &lastErrorCause);
  if (!answered) return Failed("Could not open SCManager!", false);
  if (!bus) return false;
  if (unit.activeState == "active") return true;
  const JobOutcome outcome = bus->StartUnit(UnitName(), startTimeoutMs, nullptr, &lastErrorCause);
  if (outcome != JobOutcome::kDone) return Failed("Could not start service!", false);
  return true;
}

bool C_VAZService::StopInstalledService() {
  lastErrorCause.clear();
  if (!isWindowsNT) return Failed("Could not open SCManager!", false);
  UnitInfo unit;
  bool answered = false;
  auto bus =
      OpenInstalledUnit(environment_.busAddress, UnitName(), &unit, &answered, &lastErrorCause);
  if (!answered) return Failed("Could not open SCManager!", false);
  if (!bus) return Failed("Could not stop service !", false);
  if (unit.activeState != "inactive" && unit.activeState != "failed") {
    const JobOutcome outcome = bus->StopUnit(UnitName(), stopTimeoutMs, nullptr, &lastErrorCause);
    if (outcome != JobOutcome::kDone) return Failed("Could not stop service !", false);
  }
  running = false;
  return true;
}

bool C_VAZService::RunDispatcher() {
  dispatcherMode = true;
  if (!environment_.startedByManager || serviceMain_ == nullptr) {
    lastError = "StartServiceCtrlDispatcher was not possible";
    dispatcherMode = false;
    return false;
  }
  // Only this thread takes SIGTERM (systemd's stop) and SIGINT: the service thread inherits
  // the blocked set, and the signals become the stop control here.
  BlockStopSignals();
  std::atomic<bool> finished{false};
  std::thread serviceThread([this, &finished] {
    serviceThread_ = std::this_thread::get_id();
    serviceMain_();
    finished.store(true);
  });
  while (!finished.load()) {
    if (WaitForStopSignal(kSignalPollMs)) {
      if (controlHandler_) controlHandler_(kControlStop);
    }
  }
  serviceThread.join();
  UnblockStopSignals();
  return true;
}

bool C_VAZService::RegisterHandler() {
  if (!environment_.startedByManager) return Failed("Could not register service handler!", true);
  ReportStatus(kServiceRunning, 0, 0, 1, 0);
  Logged("... service is running");
  running = true;
  return true;
}

void C_VAZService::ReportStatus(int32_t state, int32_t, int32_t waitHintMs, int32_t, int32_t) {
  // The stop control announced the stop already: systemd hears STOPPING=1 once.
  const bool alreadyStopping = currentState.exchange(state) == kServiceStopPending;
  if (!dispatcherMode) return;
  switch (state) {
    case kServiceRunning:
      NotifyServiceManager("READY=1\nSTATUS=... service is running");
      break;
    case kServiceStopPending:
      if (alreadyStopping) break;
      NotifyServiceManager("STOPPING=1\nEXTEND_TIMEOUT_USEC=" +
                           std::to_string(static_cast<int64_t>(waitHintMs) * 1000));
      break;
    case kServiceStopped:
      NotifyServiceManager("STATUS=" + displayName + " service stopped");
      break;
    default:
      break;
  }
}

void C_VAZService::HandleControl(int32_t code) {
  if (code == lastControl.load()) return;
  switch (code) {
    case kControlStop:
      lastControl = code;
      // From now on the engine takes no further file; the one in hand may still be printing,
      // so systemd hears at once that the stop is under way and how long it may take.
      stopControlReceived_ = true;
      if (dispatcherMode && currentState.exchange(kServiceStopPending) != kServiceStopPending)
        NotifyServiceManager("STOPPING=1\nEXTEND_TIMEOUT_USEC=" +
                             std::to_string(int64_t{kStopPendingHintMs} * 1000));
      stopEvent.Set();
      WakeStopWaiters();  // the scan loop may be waiting for its next second
      break;
    case kControlPause:
      lastControl = code;
      pauseEvent.Set();
      break;
    case kControlContinue:
      lastControl = code;
      continueEvent.Set();
      break;
    default:
      ReportStatus(currentState.load(), 0, 0, 1, 0);
      break;
  }
}

bool C_VAZService::StopEventSignalled() {
  const bool stop = stopEvent.TryWait();
  pauseEvent.TryWait();
  continueEvent.TryWait();
  return stop;
}

void C_VAZService::KeepAlive() {
  if (watchdogUs_ == 0 || !dispatcherMode) return;
  // Four reports per interval: one lost or late report does not trip the watchdog.
  const int64_t now = NowUs();
  int64_t last = lastKeepAliveUs_.load();
  if (now - last < static_cast<int64_t>(watchdogUs_ / 4)) return;
  if (!lastKeepAliveUs_.compare_exchange_strong(last, now)) return;
  NotifyServiceManager("WATCHDOG=1");
}

void C_VAZService::ShowStatus(const std::string& text) {
  if (!dispatcherMode) return;
  NotifyServiceManager("STATUS=" + OneLine(text));
  if (serviceThread_.load() == std::this_thread::get_id()) KeepAlive();
}

}  // namespace vellumora
