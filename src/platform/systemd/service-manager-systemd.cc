// systemd through libsystemd: sd_notify, the journal, and the manager's D-Bus API (sd-bus).
#include <sys/stat.h>
#include <syslog.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/service-manager.h"

namespace vellumora {

namespace {

constexpr char kDestination[] = "org.freedesktop.systemd1";
constexpr char kManagerPath[] = "/org/freedesktop/systemd1";
constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
constexpr char kUnitInterface[] = "org.freedesktop.systemd1.Unit";
// Jobs that ended while we waited for our own job's path; older ones are dropped.
constexpr std::size_t kRemovedJobsKept = 64;

const char* Text(const char* s) {
  return s != nullptr ? s : "";
}

// The manager's error text, or the errno text when the call failed before it reached the bus.
std::string Describe(const sd_bus_error& err, int r) {
  if (err.message != nullptr && *err.message != '\0') return err.message;
  if (err.name != nullptr && *err.name != '\0') return err.name;
  return std::strerror(r < 0 ? -r : r);
}

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

bool ServiceManagerRunning() {
  struct stat st {};
  return ::lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

bool StartedByServiceManager() {
  const char* notify = std::getenv("NOTIFY_SOCKET");
  const char* invocation = std::getenv("INVOCATION_ID");
  const bool fromManager = (notify && *notify) || (invocation && *invocation);
  if (!fromManager) return false;
  const char* execPid = std::getenv("SYSTEMD_EXEC_PID");
  if (execPid == nullptr || *execPid == '\0') return true;
  return std::strtol(execPid, nullptr, 10) == static_cast<long>(::getpid());
}

bool NotifyServiceManager(std::string_view assignments) {
  const std::string text(assignments);
  return sd_notify(0, text.c_str()) > 0;
}

uint64_t WatchdogIntervalUs() {
  uint64_t usec = 0;
  return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

void SendToJournal(JournalPriority priority, std::string_view message, int32_t channel) {
  const int level = priority == JournalPriority::kError     ? LOG_ERR
                    : priority == JournalPriority::kWarning ? LOG_WARNING
                    : priority == JournalPriority::kDebug   ? LOG_DEBUG
                                                            : LOG_INFO;
  const int length = static_cast<int>(std::min<std::size_t>(message.size(), 1 << 20));
  if (channel > 0)
    sd_journal_send("MESSAGE=%.*s", length, message.data(), "PRIORITY=%d", level,
                    "SYSLOG_IDENTIFIER=vellumora", "VELLUMORA_CHANNEL=%d",
                    static_cast<int>(channel), nullptr);
  else
    sd_journal_send("MESSAGE=%.*s", length, message.data(), "PRIORITY=%d", level,
                    "SYSLOG_IDENTIFIER=vellumora", nullptr);
}

bool MayManageUnitsAsRoot() {
  return ::geteuid() == 0;
}

struct ServiceManagerBus::Impl {
  sd_bus* bus = nullptr;
  ~Impl() {
    if (bus) sd_bus_flush_close_unref(bus);
  }
};

ServiceManagerBus::ServiceManagerBus(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ServiceManagerBus::~ServiceManagerBus() = default;

std::unique_ptr<ServiceManagerBus> ServiceManagerBus::Open(const std::string& address,
                                                           bool interactive, std::string* error) {
  auto impl = std::make_unique<Impl>();
  int r = 0;
  if (address.empty()) {
    r = sd_bus_open_system(&impl->bus);
  } else {
    r = sd_bus_new(&impl->bus);
    if (r >= 0) r = sd_bus_set_address(impl->bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(impl->bus, 1);
    if (r >= 0) r = sd_bus_start(impl->bus);
  }
  if (r < 0) {
    if (error) *error = std::string("cannot connect to the system bus: ") + std::strerror(-r);
    return nullptr;
  }
  sd_bus_set_allow_interactive_authorization(impl->bus, interactive ? 1 : 0);
  return std::unique_ptr<ServiceManagerBus>(new ServiceManagerBus(std::move(impl)));
}

bool ServiceManagerBus::GetUnit(const std::string& name, UnitInfo* info, std::string* error) {
  sd_bus_error err = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(impl_->bus, kDestination, kManagerPath, kManagerInterface, "LoadUnit",
                             &err, &reply, "s", name.c_str());
  const char* path = nullptr;
  if (r >= 0) r = sd_bus_message_read(reply, "o", &path);
  if (r < 0) {
    std::string text = "LoadUnit " + name + ": " + Describe(err, r);
    sd_bus_error_free(&err);
    sd_bus_message_unref(reply);
    return Fail(error, text);
  }
  const std::string unitPath = Text(path);
  sd_bus_message_unref(reply);

  auto property = [&](const char* key, std::string* value) {
    char* text = nullptr;
    sd_bus_error perr = SD_BUS_ERROR_NULL;
    int pr = sd_bus_get_property_string(impl_->bus, kDestination, unitPath.c_str(), kUnitInterface,
                                        key, &perr, &text);
    if (pr < 0) {
      if (error) *error = std::string(key) + " of " + name + ": " + Describe(perr, pr);
      sd_bus_error_free(&perr);
      return false;
    }
    *value = Text(text);
    std::free(text);
    return true;
  };
  UnitInfo result;
  if (!property("LoadState", &result.loadState) || !property("ActiveState", &result.activeState) ||
      !property("FragmentPath", &result.fragmentPath))
    return false;
  // Whether the unit is enabled only matters for a unit the package ships; a manager that
  // cannot say leaves it unknown rather than the unit unreadable.
  const std::string reported = error ? *error : std::string();
  if (!property("UnitFileState", &result.fileState)) {
    result.fileState.clear();
    if (error) *error = reported;
  }
  *info = std::move(result);
  return true;
}

bool ServiceManagerBus::PolkitAllowsManagingUnits() {
  // CheckAuthorization(subject (sa{sv}), action s, details a{ss}, flags u, cancellation s):
  // the subject is this connection; "challenge" means polkit would ask for a password, which
  // the manager's calls (interactive) then do.
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(impl_->bus, &unique) < 0 || unique == nullptr) return false;
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(
      impl_->bus, &m, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
      "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
  if (r >= 0) r = sd_bus_message_open_container(m, 'r', "sa{sv}");
  if (r >= 0) r = sd_bus_message_append(m, "s", "system-bus-name");
  if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r >= 0) r = sd_bus_message_append(m, "{sv}", "name", "s", unique);
  if (r >= 0) r = sd_bus_message_close_container(m);
  if (r >= 0) r = sd_bus_message_close_container(m);
  if (r >= 0) r = sd_bus_message_append(m, "s", "org.freedesktop.systemd1.manage-units");
  if (r >= 0) r = sd_bus_message_open_container(m, 'a', "{ss}");
  if (r >= 0) r = sd_bus_message_close_container(m);
  if (r >= 0) r = sd_bus_message_append(m, "us", 0u, "");
  sd_bus_message* reply = nullptr;
  if (r >= 0) r = sd_bus_call(impl_->bus, m, 5000000, nullptr, &reply);
  int authorized = 0, challenge = 0;
  if (r >= 0) r = sd_bus_message_enter_container(reply, 'r', "bba{ss}");
  if (r >= 0) r = sd_bus_message_read(reply, "bb", &authorized, &challenge);
  sd_bus_message_unref(reply);
  sd_bus_message_unref(m);
  return r >= 0 && (authorized || challenge);
}

bool ServiceManagerBus::Reload(std::string* error) {
  sd_bus_error err = SD_BUS_ERROR_NULL;
  int r = sd_bus_call_method(impl_->bus, kDestination, kManagerPath, kManagerInterface, "Reload",
                             &err, nullptr, "");
  if (r < 0) {
    std::string text = "Reload: " + Describe(err, r);
    sd_bus_error_free(&err);
    return Fail(error, text);
  }
  return true;
}

bool ServiceManagerBus::EnableUnitFile(const std::string& name, std::string* error) {
  sd_bus_error err = SD_BUS_ERROR_NULL;
  // EnableUnitFiles(as files, b runtime, b force)
  int r = sd_bus_call_method(impl_->bus, kDestination, kManagerPath, kManagerInterface,
                             "EnableUnitFiles", &err, nullptr, "asbb", 1, name.c_str(), 0, 1);
  if (r < 0) {
    std::string text = "EnableUnitFiles " + name + ": " + Describe(err, r);
    sd_bus_error_free(&err);
    return Fail(error, text);
  }
  return true;
}

bool ServiceManagerBus::DisableUnitFile(const std::string& name, std::string* error) {
  sd_bus_error err = SD_BUS_ERROR_NULL;
  // DisableUnitFiles(as files, b runtime)
  int r = sd_bus_call_method(impl_->bus, kDestination, kManagerPath, kManagerInterface,
                             "DisableUnitFiles", &err, nullptr, "asb", 1, name.c_str(), 0);
  if (r < 0) {
    std::string text = "DisableUnitFiles " + name + ": " + Describe(err, r);
    sd_bus_error_free(&err);
    return Fail(error, text);
  }
  return true;
}

JobOutcome ServiceManagerBus::StartUnit(const std::string& name, int32_t timeoutMs,
                                        const std::function<void()>& whileWaiting,
                                        std::string* error) {
  return RunJob("StartUnit", name, timeoutMs, whileWaiting, error);
}

JobOutcome ServiceManagerBus::StopUnit(const std::string& name, int32_t timeoutMs,
                                       const std::function<void()>& whileWaiting,
                                       std::string* error) {
  return RunJob("StopUnit", name, timeoutMs, whileWaiting, error);
}

namespace {

// The jobs whose JobRemoved signal arrived: their object path and result.
struct RemovedJobs {
  std::vector<std::pair<std::string, std::string>> jobs;
};

int OnJobRemoved(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* removed = static_cast<RemovedJobs*>(userdata);
  uint32_t id = 0;
  const char* job = nullptr;
  const char* unit = nullptr;
  const char* result = nullptr;
  if (sd_bus_message_read(m, "uoss", &id, &job, &unit, &result) < 0) return 0;
  if (removed->jobs.size() >= kRemovedJobsKept) removed->jobs.erase(removed->jobs.begin());
  removed->jobs.emplace_back(Text(job), Text(result));
  return 0;
}

}  // namespace

JobOutcome ServiceManagerBus::RunJob(const char* method, const std::string& name, int32_t timeoutMs,
                                     const std::function<void()>& whileWaiting,
                                     std::string* error) {
  sd_bus* bus = impl_->bus;
  RemovedJobs removed;
  // Listen before asking, so that a job that ends at once is not missed.
  sd_bus_slot* slot = nullptr;
  int r = sd_bus_match_signal(bus, &slot, kDestination, kManagerPath, kManagerInterface,
                              "JobRemoved", OnJobRemoved, &removed);
  if (r < 0) {
    Fail(error, std::string("cannot listen for job results: ") + std::strerror(-r));
    return JobOutcome::kRefused;
  }
  // The manager sends its job signals to subscribed clients.
  sd_bus_call_method(bus, kDestination, kManagerPath, kManagerInterface, "Subscribe", nullptr,
                     nullptr, "");

  sd_bus_error err = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call_method(bus, kDestination, kManagerPath, kManagerInterface, method, &err, &reply,
                         "ss", name.c_str(), "replace");
  const char* jobPath = nullptr;
  if (r >= 0) r = sd_bus_message_read(reply, "o", &jobPath);
  if (r < 0) {
    Fail(error, std::string(method) + " " + name + ": " + Describe(err, r));
    sd_bus_error_free(&err);
    sd_bus_message_unref(reply);
    sd_bus_slot_unref(slot);
    return JobOutcome::kRefused;
  }
  const std::string job = Text(jobPath);
  sd_bus_message_unref(reply);

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  JobOutcome outcome = JobOutcome::kTimedOut;
  for (;;) {
    // Take every queued message, then look for our job.
    while ((r = sd_bus_process(bus, nullptr)) > 0) {
    }
    auto found = std::find_if(removed.jobs.begin(), removed.jobs.end(),
                              [&](const auto& j) { return j.first == job; });
    if (found != removed.jobs.end()) {
      outcome = found->second == "done" ? JobOutcome::kDone : JobOutcome::kFailed;
      if (outcome == JobOutcome::kFailed) Fail(error, name + ": job result " + found->second);
      break;
    }
    if (r < 0) {
      Fail(error, std::string("lost the system bus: ") + std::strerror(-r));
      outcome = JobOutcome::kFailed;
      break;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      Fail(error, name + ": no job result within " + std::to_string(timeoutMs / 1000) + " s");
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now);
    sd_bus_wait(bus, static_cast<uint64_t>(std::min<int64_t>(left.count(), 100000)));
    if (whileWaiting) whileWaiting();
  }
  sd_bus_slot_unref(slot);
  return outcome;
}

}  // namespace vellumora
