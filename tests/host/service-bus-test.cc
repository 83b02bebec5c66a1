// The service object's D-Bus conversation with systemd, against a private dbus-daemon on
// which a small stand-in plays systemd's manager object.
#include <gtest/gtest.h>
#include <signal.h>
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
#include "support/systemd-stand-in.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::PrivateBus;
using test::StandInManager;
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
  // A private runtime folder (0700, as XDG_RUNTIME_DIR is) for the program the test runs.
  fs::path RuntimeDir() const {
    const fs::path run = dir.path() / "run";
    fs::create_directories(run);
    fs::permissions(run, fs::perms::owner_all);
    return run;
  }
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
  EXPECT_EQ(Service()->accountName, "root");
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

  // systemd still runs the unit whose file is gone: a fresh look (status, a desktop start)
  // sees it running, and it can still be stopped.
  auto after = Service();
  EXPECT_FALSE(after->installed);
  EXPECT_TRUE(after->running);
  manager->ClearCalls();
  ASSERT_TRUE(after->StopInstalledService()) << after->lastError << " " << after->lastErrorCause;
  const auto calls = manager->Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "StopUnit vellumora.service replace"),
            calls.end());
  EXPECT_FALSE(Service()->running);
}

TEST_F(ServiceBusTest, InstallRefusesAProgramThePrivateTmpHides) {
  for (const std::string path : {"/tmp/build/src/app/vellumora", "/var/tmp/vellumora"}) {
    auto svc = Service();
    svc->executablePath = path;
    EXPECT_FALSE(svc->InstallService()) << path;
    EXPECT_EQ(svc->lastError, "Could not create service!");
    EXPECT_NE(svc->lastErrorCause.find("below /tmp"), std::string::npos) << svc->lastErrorCause;
    EXPECT_FALSE(fs::exists(unitDir() / "vellumora.service"));
  }
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
  setenv("XDG_RUNTIME_DIR", RuntimeDir().c_str(), 1);
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
  setenv("XDG_RUNTIME_DIR", RuntimeDir().c_str(), 1);
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
