// The service object's D-Bus conversation with systemd, against a private dbus-daemon on
// which a small stand-in plays systemd's manager object. The stand-in is this suite's one
// fake: systemd itself cannot run on the test machines. It keeps the unit's state the way
// systemd does: the unit is loaded when its file was there at the last Reload (the
// administrator's file before the one a package ships), and start and stop jobs end with a
// JobRemoved signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/program.h"
#include "host/service.h"
#include "host/unit-file.h"
#include "kernel/kernel.h"
#include "kernel/klog.h"
#include "kernel/text-fields.h"
#include "support/sandbox-dir.h"

extern char** environ;

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
constexpr char kUnitPath[] = "/org/freedesktop/systemd1/unit/vellumora_2eservice";

// A dbus-daemon of our own, listening on a socket in the sandbox only.
class PrivateBus {
 public:
  explicit PrivateBus(const fs::path& dir) {
    const fs::path socket = dir / "bus";
    const fs::path config = dir / "bus.conf";
    test::WriteFileBytes(config,
                         "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                         "Configuration 1.0//EN\"\n"
                         " \"http://www.freedesktop.org/standards/dbus/1.0/"
                         "busconfig.dtd\">\n<busconfig>\n  <type>session</type>\n"
                         "  <listen>unix:path=" +
                             socket.string() +
                             "</listen>\n  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    std::string exe = "dbus-daemon";
    std::string configArg = "--config-file=" + config.string();
    std::string nofork = "--nofork";
    char* argv[] = {exe.data(), configArg.data(), nofork.data(), nullptr};
    // Its messages go to a file in the sandbox, kept when a test fails.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string logFile = (dir / "dbus-daemon.log").string();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawnp(&pid_, exe.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 250 && pid_ > 0 && !fs::exists(socket); ++i)
      std::this_thread::sleep_for(20ms);
    address = "unix:path=" + socket.string();
  }
  ~PrivateBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool running() const { return pid_ > 0; }
  std::string address;

 private:
  pid_t pid_ = -1;
};

// The stand-in for systemd's manager: the methods the service object calls, the unit's
// properties and the JobRemoved signal.
class StandInManager {
 public:
  StandInManager(const std::string& address, fs::path unitFile, fs::path packagedFile)
      : unitFile_(std::move(unitFile)), packagedFile_(std::move(packagedFile)) {
    sd_bus_new(&bus_);
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    ok_ = sd_bus_start(bus_) >= 0 &&
          sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/systemd1", kManagerInterface,
                                   kManagerVtable, this) >= 0 &&
          sd_bus_add_object_vtable(bus_, nullptr, kUnitPath, "org.freedesktop.systemd1.Unit",
                                   kUnitVtable, this) >= 0 &&
          sd_bus_request_name(bus_, "org.freedesktop.systemd1", 0) >= 0;
    if (ok_) thread_ = std::thread([this] { Loop(); });
  }
  ~StandInManager() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  bool ok() const { return ok_; }

  // What the manager was asked, in order ("Reload", "StartUnit vellumora.service replace").
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }
  void SetActive(const std::string& state) {
    std::lock_guard lock(mutex_);
    activeState_ = state;
  }
  // The result of the next jobs; empty: they never end.
  void SetJobResult(const std::string& result) {
    std::lock_guard lock(mutex_);
    jobResult_ = result;
  }
  bool enabled() {
    std::lock_guard lock(mutex_);
    return enabled_;
  }
  // What `systemctl enable` or a package's installation does behind the object's back.
  void SetEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
  }
  void ReloadNow() {
    std::lock_guard lock(mutex_);
    LoadFiles();
  }

 private:
  void Loop() {
    while (!stop_) {
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      sd_bus_wait(bus_, 20000);
    }
  }
  // Under mutex_: the unit file systemd would load now, the administrator's first.
  void LoadFiles() {
    fragment_.clear();
    if (fs::exists(unitFile_))
      fragment_ = unitFile_;
    else if (fs::exists(packagedFile_))
      fragment_ = packagedFile_;
  }
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  static StandInManager* Self(void* userdata) { return static_cast<StandInManager*>(userdata); }

  static int LoadUnit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    sd_bus_message_read(m, "s", &name);
    Self(userdata)->Record(std::string("LoadUnit ") + name);
    return sd_bus_reply_method_return(m, "o", kUnitPath);
  }
  static int Reload(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    self->Record("Reload");
    std::lock_guard lock(self->mutex_);
    self->LoadFiles();
    return sd_bus_reply_method_return(m, "");
  }
  static int Subscribe(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "");
  }
  static int EnableUnitFiles(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    char** files = nullptr;
    sd_bus_message_read_strv(m, &files);
    std::string call = "EnableUnitFiles";
    for (char** f = files; f && *f; ++f) call += std::string(" ") + *f, free(*f);
    free(files);
    self->Record(call);
    {
      std::lock_guard lock(self->mutex_);
      self->enabled_ = true;
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_append(reply, "b", 0);
    sd_bus_message_open_container(reply, 'a', "(sss)");
    sd_bus_message_close_container(reply);
    int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }
  static int DisableUnitFiles(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    char** files = nullptr;
    sd_bus_message_read_strv(m, &files);
    std::string call = "DisableUnitFiles";
    for (char** f = files; f && *f; ++f) call += std::string(" ") + *f, free(*f);
    free(files);
    self->Record(call);
    {
      std::lock_guard lock(self->mutex_);
      self->enabled_ = false;
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_open_container(reply, 'a', "(sss)");
    sd_bus_message_close_container(reply);
    int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }
  static int Job(sd_bus_message* m, void* userdata, const char* method, const char* endState) {
    auto* self = Self(userdata);
    const char* name = nullptr;
    const char* mode = nullptr;
    sd_bus_message_read(m, "ss", &name, &mode);
    self->Record(std::string(method) + " " + name + " " + mode);
    std::string result;
    uint32_t id = 0;
    {
      std::lock_guard lock(self->mutex_);
      result = self->jobResult_;
      id = ++self->jobs_;
      if (result == "done") self->activeState_ = endState;
    }
    const std::string job = "/org/freedesktop/systemd1/job/" + std::to_string(id);
    int r = sd_bus_reply_method_return(m, "o", job.c_str());
    if (r >= 0 && !result.empty())
      sd_bus_emit_signal(self->bus_, "/org/freedesktop/systemd1", kManagerInterface, "JobRemoved",
                         "uoss", id, job.c_str(), name, result.c_str());
    return r;
  }
  static int StartUnit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return Job(m, userdata, "StartUnit", "active");
  }
  static int StopUnit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return Job(m, userdata, "StopUnit", "inactive");
  }
  static int Property(sd_bus*, const char*, const char*, const char* property,
                      sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    std::lock_guard lock(self->mutex_);
    std::string value;
    const bool loaded = !self->fragment_.empty();
    if (std::string(property) == "LoadState")
      value = loaded ? "loaded" : "not-found";
    else if (std::string(property) == "ActiveState")
      value = self->activeState_;
    else if (std::string(property) == "UnitFileState")
      value = !loaded ? "" : self->enabled_ ? "enabled" : "disabled";
    else
      value = self->fragment_.string();
    return sd_bus_message_append(reply, "s", value.c_str());
  }

  static const sd_bus_vtable kManagerVtable[];
  static const sd_bus_vtable kUnitVtable[];

  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  const fs::path unitFile_;
  const fs::path packagedFile_;
  fs::path fragment_;  // the loaded unit file; empty: not loaded
  std::vector<std::string> calls_;
  bool enabled_ = false;
  std::string activeState_ = "inactive";
  std::string jobResult_ = "done";
  uint32_t jobs_ = 0;
};

const sd_bus_vtable StandInManager::kManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("LoadUnit", "s", "o", StandInManager::LoadUnit, 0),
    SD_BUS_METHOD("Reload", "", "", StandInManager::Reload, 0),
    SD_BUS_METHOD("Subscribe", "", "", StandInManager::Subscribe, 0),
    SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", StandInManager::EnableUnitFiles, 0),
    SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", StandInManager::DisableUnitFiles, 0),
    SD_BUS_METHOD("StartUnit", "ss", "o", StandInManager::StartUnit, 0),
    SD_BUS_METHOD("StopUnit", "ss", "o", StandInManager::StopUnit, 0),
    SD_BUS_SIGNAL("JobRemoved", "uoss", 0),
    SD_BUS_VTABLE_END};

const sd_bus_vtable StandInManager::kUnitVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("LoadState", "s", StandInManager::Property, 0, 0),
    SD_BUS_PROPERTY("ActiveState", "s", StandInManager::Property, 0, 0),
    SD_BUS_PROPERTY("FragmentPath", "s", StandInManager::Property, 0, 0),
    SD_BUS_PROPERTY("UnitFileState", "s", StandInManager::Property, 0, 0),
    SD_BUS_VTABLE_END};

class ServiceBusTest : public ::testing::Test {
 protected:
  ServiceBusTest() : bus(dir.path()) {
    fs::create_directories(unitDir());
    fs::create_directories(packageUnitDir());
    manager = std::make_unique<StandInManager>(bus.address, unitDir() / "vellumora.service",
                                               packageUnitDir() / "vellumora.service");
  }
  void SetUp() override {
    ASSERT_TRUE(bus.running()) << "dbus-daemon did not start";
    ASSERT_TRUE(manager->ok()) << "the stand-in manager is not on the bus";
  }
  fs::path unitDir() const { return dir.path() / "etc"; }
  fs::path packageUnitDir() const { return dir.path() / "lib"; }
  C_VAZService::Environment Systemd() const {
    C_VAZService::Environment e;
    e.managerRunning = true;
    e.busAddress = bus.address;
    e.unitDirectory = unitDir().string();
    return e;
  }
  std::unique_ptr<C_VAZService> Service() {
    return std::make_unique<C_VAZService>("Vellumora", nullptr, nullptr, true, Systemd());
  }
  // Installs for /usr/bin/vellumora run as `account`.
  void Install(const std::string& account, bool autoStart = true) {
    auto svc = Service();
    manager->ClearCalls();  // what install asks, not what the object asked at construction
    svc->executablePath = "/usr/bin/vellumora";
    svc->accountName = account;
    svc->autoStart = autoStart;
    ASSERT_TRUE(svc->InstallService()) << svc->lastError << " " << svc->lastErrorCause;
    EXPECT_TRUE(svc->installed);
    EXPECT_EQ(svc->lastError, "");
  }

  test::SandboxDir dir;
  PrivateBus bus;
  std::unique_ptr<StandInManager> manager;
};

TEST_F(ServiceBusTest, InstallThenQueryReadsTheUnitBack) {
  auto before = Service();
  EXPECT_TRUE(before->isWindowsNT);
  EXPECT_FALSE(before->installed);
  EXPECT_FALSE(before->running);
  EXPECT_EQ(before->lastError, "");

  Install(".\\printer");
  EXPECT_EQ(manager->Calls(),
            (std::vector<std::string>{"Reload", "EnableUnitFiles vellumora.service"}));
  EXPECT_TRUE(manager->enabled());
  const std::string text = test::ReadFileBytes(unitDir() / "vellumora.service");
  EXPECT_NE(text.find("\nUser=printer\n"), std::string::npos) << text;

  auto after = Service();
  EXPECT_TRUE(after->installed);
  EXPECT_FALSE(after->running);
  EXPECT_EQ(after->executablePath, "/usr/bin/vellumora");
  EXPECT_EQ(after->accountName, "printer");

  // On-demand start: the unit is disabled.
  Install("LocalSystem", false);
  EXPECT_FALSE(manager->enabled());
  EXPECT_EQ(Service()->accountName, "");
}

TEST_F(ServiceBusTest, StartAndStopWaitForTheJobAndSkipWhatIsDone) {
  Install("");
  auto svc = Service();
  manager->ClearCalls();
  ASSERT_TRUE(svc->StartInstalledService()) << svc->lastErrorCause;
  auto calls = manager->Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), "StartUnit vellumora.service replace");
  EXPECT_TRUE(Service()->running);

  // Already running: no second request.
  manager->ClearCalls();
  EXPECT_TRUE(svc->StartInstalledService());
  for (const auto& c : manager->Calls()) EXPECT_EQ(c.rfind("StartUnit", 0), std::string::npos);

  svc->running = true;
  ASSERT_TRUE(svc->StopInstalledService()) << svc->lastErrorCause;
  EXPECT_FALSE(svc->running);
  EXPECT_EQ(manager->Calls().back(), "StopUnit vellumora.service replace");
  EXPECT_FALSE(Service()->running);

  manager->ClearCalls();
  EXPECT_TRUE(svc->StopInstalledService());
  for (const auto& c : manager->Calls()) EXPECT_EQ(c.rfind("StopUnit", 0), std::string::npos);
}

TEST_F(ServiceBusTest, JobsThatFailOrNeverEndAreFailures) {
  Install("");
  auto svc = Service();
  svc->startTimeoutMs = 300;
  svc->stopTimeoutMs = 300;

  manager->SetJobResult("failed");
  EXPECT_FALSE(svc->StartInstalledService());
  EXPECT_EQ(svc->lastError, "Could not start service!");

  manager->SetJobResult("");  // the job never ends: the bound ends the wait
  EXPECT_FALSE(svc->StartInstalledService());
  EXPECT_EQ(svc->lastError, "Could not start service!");

  manager->SetActive("active");
  svc->running = true;
  EXPECT_FALSE(svc->StopInstalledService());
  EXPECT_EQ(svc->lastError, "Could not stop service !");
  EXPECT_TRUE(svc->running);
}

TEST_F(ServiceBusTest, RemoveLeavesARunningServiceRunning) {
  Install("");
  manager->SetActive("active");
  auto svc = Service();
  ASSERT_TRUE(svc->running);
  manager->ClearCalls();
  ASSERT_TRUE(svc->RemoveService()) << svc->lastErrorCause;
  EXPECT_EQ(manager->Calls(),
            (std::vector<std::string>{"DisableUnitFiles vellumora.service", "Reload"}));
  EXPECT_FALSE(fs::exists(unitDir() / "vellumora.service"));
  EXPECT_FALSE(svc->installed);
  EXPECT_TRUE(svc->running) << "removing stops nothing";

  EXPECT_FALSE(svc->RemoveService());
  EXPECT_EQ(svc->lastError, "Could not open service to delete");
  EXPECT_FALSE(Service()->installed);
}

TEST_F(ServiceBusTest, ManagerThatCannotBeReachedMeansNotInstalled) {
  C_VAZService::Environment e = Systemd();
  e.busAddress = "unix:path=" + (dir.path() / "nobody-listens").string();
  C_VAZService svc("Vellumora", nullptr, nullptr, true, e);
  EXPECT_EQ(svc.lastError, "ERROR Could not open SCManager!");
  EXPECT_FALSE(svc.installed);
  EXPECT_FALSE(svc.running);
  EXPECT_FALSE(svc.StartInstalledService());
  EXPECT_EQ(svc.lastError, "Could not open SCManager!");
}

std::vector<std::string> LogMessages(const fs::path& logFile) {
  std::vector<std::string> out;
  C_KLog reader(logFile.string());
  auto lines = reader.Lines();
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::string line = Utf16ToUtf8(lines[i]);
    out.push_back(line.size() > 15 ? line.substr(15) : line);  // drop "mm.dd. hh:nn   "
  }
  return out;
}

// A user's start while the service is installed: stopped, the start tries the dispatcher
// first ("Loading program ....") and then runs the desktop for service setup; running, it
// goes to the desktop for service setup at once.
TEST_F(ServiceBusTest, UserStartBesideTheInstalledServiceIsTheDesktopForServiceSetup) {
  Install("");
  setenv("VELLUMORA_COMMON_APPDATA", dir.path().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  quitRequested = 1;  // the desktop ends as soon as it has started
  std::string name = "vellumora";
  char* argv[] = {name.data(), nullptr};
  const fs::path logFile = dir.path() / "Vellumora" / "Vellumora.log";
  const std::string setup = "Vellumora started as desktop application for service setup";

  manager->SetActive("inactive");
  EXPECT_EQ(RunProgram(1, argv, Systemd()), 0);
  EXPECT_EQ(serviceSetupMode.load(), 1);
  auto lines = LogMessages(logFile);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[2], "Vellumora");
  EXPECT_EQ(lines[5], "Loading program ....");
  EXPECT_EQ(lines[6], setup);
  const std::size_t first = lines.size();

  manager->SetActive("active");
  EXPECT_EQ(RunProgram(1, argv, Systemd()), 0);
  EXPECT_EQ(serviceSetupMode.load(), 1);
  lines = LogMessages(logFile);
  auto again = std::find(lines.begin() + static_cast<long>(first), lines.end(), "Vellumora");
  ASSERT_NE(again, lines.end());
  ASSERT_LT(again + 4, lines.end());
  EXPECT_EQ(*(again + 3), setup) << "no dispatcher attempt beside a running service";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Loading program ...."), 1);

  quitRequested = 0;
  unsetenv("VELLUMORA_COMMON_APPDATA");
  unsetenv("XDG_RUNTIME_DIR");
}

// The unit file a package ships, disabled: no installed service until the administrator
// enables it or starts it, so a desktop start beside it scans by itself. Removing an enabled
// packaged unit disables it and leaves the package's file; an install beside it takes its place
// until it is removed again.
TEST_F(ServiceBusTest, PackagedUnitIsTheServiceOnlyOnceEnabledOrRunning) {
  const fs::path packaged = packageUnitDir() / "vellumora.service";
  std::string error;
  test::WriteFileBytes(packaged, UnitFileText("/opt/vellumora/bin/vellumora", "", &error));
  manager->ReloadNow();

  auto disabled = Service();
  EXPECT_FALSE(disabled->installed);
  EXPECT_EQ(disabled->lastError, "");
  EXPECT_FALSE(disabled->RemoveService());
  EXPECT_EQ(disabled->lastError, "Could not open service to delete");
  EXPECT_TRUE(fs::exists(packaged));

  setenv("VELLUMORA_COMMON_APPDATA", dir.path().c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
  quitRequested = 1;
  std::string name = "vellumora";
  char* argv[] = {name.data(), nullptr};
  EXPECT_EQ(RunProgram(1, argv, Systemd()), 0);
  EXPECT_EQ(serviceSetupMode.load(), 0);
  const auto lines = LogMessages(dir.path() / "Vellumora" / "Vellumora.log");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Vellumora startet as desktop application"),
            lines.end());
  quitRequested = 0;
  unsetenv("VELLUMORA_COMMON_APPDATA");
  unsetenv("XDG_RUNTIME_DIR");

  manager->SetActive("active");  // systemctl start without enable
  EXPECT_TRUE(Service()->installed);
  EXPECT_TRUE(Service()->running);
  manager->SetActive("inactive");

  manager->SetEnabled(true);  // systemctl enable
  auto enabled = Service();
  ASSERT_TRUE(enabled->installed);
  EXPECT_EQ(enabled->executablePath, "/opt/vellumora/bin/vellumora");
  manager->ClearCalls();
  ASSERT_TRUE(enabled->RemoveService()) << enabled->lastErrorCause;
  EXPECT_EQ(manager->Calls(),
            (std::vector<std::string>{"LoadUnit vellumora.service",
                                      "DisableUnitFiles vellumora.service", "Reload"}));
  EXPECT_TRUE(fs::exists(packaged));
  EXPECT_FALSE(enabled->installed);
  EXPECT_FALSE(Service()->installed);

  Install("");
  auto own = Service();
  ASSERT_TRUE(own->installed);
  EXPECT_EQ(own->executablePath, "/usr/bin/vellumora");
  ASSERT_TRUE(own->RemoveService()) << own->lastErrorCause;
  EXPECT_FALSE(fs::exists(unitDir() / "vellumora.service"));
  EXPECT_TRUE(fs::exists(packaged));
  EXPECT_FALSE(Service()->installed);
}

}  // namespace
}  // namespace vellumora
