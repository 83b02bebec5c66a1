// The service object without systemd, its control handler, the account rule, and the unit
// file checked by systemd's own tools.
#include "host/service.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "host/journal-fields.h"
#include "host/unit-file.h"
#include "platform/service-manager.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

C_VAZService::Environment NoManager() {
  C_VAZService::Environment e;
  e.unitDirectory = "/nonexistent";
  return e;
}

// This machine has no systemd: the object asks nothing, reports not installed and not
// running, and every operation fails with its text.
TEST(Service, WithoutServiceManager) {
  if (ServiceManagerRunning()) GTEST_SKIP() << "systemd runs here";
  C_VAZService svc("Vellumora", nullptr, nullptr, true);
  EXPECT_FALSE(svc.isWindowsNT);
  EXPECT_FALSE(svc.installed);
  EXPECT_FALSE(svc.running);
  EXPECT_FALSE(svc.dispatcherMode);
  EXPECT_EQ(svc.lastError, "");
  EXPECT_EQ(svc.stopEvent.name(), std::string("StopEvent"));
  EXPECT_FALSE(svc.StopEventSignalled());
  EXPECT_TRUE(fs::path(svc.executablePath).is_absolute());
  EXPECT_EQ(svc.UnitFilePath(), "/etc/systemd/system/vellumora.service");

  EXPECT_FALSE(svc.InstallService());
  EXPECT_EQ(svc.lastError, "Could not open SCManager to create service!");
  EXPECT_FALSE(svc.installed);
  EXPECT_FALSE(svc.RemoveService());
  EXPECT_EQ(svc.lastError, "Could not open SCManager to delete!");
  EXPECT_FALSE(svc.StartInstalledService());
  EXPECT_EQ(svc.lastError, "Could not open SCManager!");
  EXPECT_FALSE(svc.StopInstalledService());
  EXPECT_EQ(svc.lastError, "Could not open SCManager!");
  EXPECT_FALSE(svc.RunDispatcher());
  EXPECT_EQ(svc.lastError, "StartServiceCtrlDispatcher was not possible");
  EXPECT_FALSE(svc.dispatcherMode);
}

// A process that systemd started counts as the installed, not yet running service even when
// the manager cannot be asked.
TEST(Service, StartedByManagerWithoutBus) {
  C_VAZService::Environment e = NoManager();
  e.startedByManager = true;
  C_VAZService svc("Vellumora", nullptr, nullptr, true, e);
  EXPECT_TRUE(svc.installed);
  EXPECT_FALSE(svc.running);
  EXPECT_FALSE(svc.isWindowsNT);
}

TEST(Service, ControlHandlerIgnoresRepeatsAndReReportsOnInterrogate) {
  C_VAZService svc("Vellumora", nullptr, nullptr, true, NoManager());
  svc.ReportStatus(kServiceRunning, 0, 0, 1, 0);

  svc.HandleControl(kControlStop);
  EXPECT_EQ(svc.lastControl.load(), kControlStop);
  EXPECT_TRUE(svc.StopEventSignalled());
  EXPECT_FALSE(svc.StopEventSignalled()) << "auto-reset: one signal, one wait";
  svc.HandleControl(kControlStop);  // a second stop while stopping
  EXPECT_FALSE(svc.StopEventSignalled());

  svc.HandleControl(kControlInterrogate);
  EXPECT_EQ(svc.lastControl.load(), kControlStop);
  EXPECT_EQ(svc.currentState.load(), kServiceRunning);
  EXPECT_FALSE(svc.StopEventSignalled());

  // Pause and continue are consumed by the scan loop's poll and stop nothing.
  svc.HandleControl(kControlPause);
  EXPECT_FALSE(svc.StopEventSignalled());
  EXPECT_FALSE(svc.pauseEvent.TryWait()) << "consumed by the poll";
  svc.HandleControl(kControlContinue);
  EXPECT_EQ(svc.lastControl.load(), kControlContinue);
  EXPECT_TRUE(svc.continueEvent.TryWait());
  // After another code, a stop counts again.
  svc.HandleControl(kControlStop);
  EXPECT_TRUE(svc.StopEventSignalled());
}

TEST(UnitFile, AccountRule) {
  const struct {
    const char* account;
    const char* user;
  } cases[] = {
      {"LocalSystem", ""},
      {".\\LocalSystem", ""},
      {"DOMAIN\\LocalSystem", ""},
      {"localsystem", "localsystem"},
      {"", "vellumora"},
      {".\\", "vellumora"},
      {"root", ""},
      {".\\root", ""},
      {"printer", "printer"},
      {".\\printer", "printer"},
  };
  for (const auto& c : cases) EXPECT_EQ(ServiceUser(c.account), c.user) << c.account;
}

TEST(UnitFile, RefusesWhatWouldInjectDirectives) {
  std::string error;
  EXPECT_EQ(UnitFileText("/usr/bin/vellumora\nExecStartPre=/bin/sh", "", &error), "");
  EXPECT_NE(error, "");
  EXPECT_EQ(UnitFileText("vellumora", "", &error), "") << "relative path";
  EXPECT_EQ(UnitFileText("/usr/bin/vellumora", "printer\nUser=root", &error), "");
  EXPECT_EQ(UnitFileText("/usr/bin/vellumora", "DOMAIN\\printer", &error), "");
  EXPECT_EQ(UnitFileText("/usr/bin/vellumora", "-rf", &error), "");
  EXPECT_NE(UnitFileText("/usr/bin/vellumora", "lp", &error), "");
}

TEST(UnitFile, ExecutableAndUserReadBack) {
  for (const std::string path :
       {"/opt/vellumora/bin/vellumora", "/opt/Hot Folder/vell\"u%m$o\\ra"}) {
    std::string error;
    const std::string text = UnitFileText(path, "printer", &error);
    ASSERT_NE(text, "") << error;
    UnitFileFacts facts = ReadUnitFileText(text);
    EXPECT_EQ(facts.executable, path);
    EXPECT_EQ(facts.user, "printer");
  }
  EXPECT_EQ(ReadUnitFileText(UnitFileText("/usr/bin/vellumora", "", nullptr)).user, "");
}

struct ToolRun {
  int status = -1;
  std::string output;
};

ToolRun Shell(const std::string& command) {
  ToolRun run;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return run;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) run.output.append(buffer, n);
  const int status = pclose(p);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The unit as install writes it, checked by systemd's own tools (they run without systemd).
TEST(UnitFile, PassesSystemdAnalyze) {
  test::SandboxDir dir;
  const fs::path unitDir = dir.path() / "etc/systemd/system";
  fs::create_directories(unitDir);
  for (const std::string user : {"", "lp"}) {
    std::string error;
    const std::string text = UnitFileText(VELLUMORA_EXECUTABLE, user, &error);
    ASSERT_NE(text, "") << error;
    const fs::path unit = unitDir / kUnitName;
    test::WriteFileBytes(unit, text);

    ToolRun verify = Shell("systemd-analyze verify '" + unit.string() + "'");
    EXPECT_EQ(verify.status, 0) << verify.output;
    EXPECT_EQ(verify.output.find("vellumora.service:"), std::string::npos)
        << "warnings about the unit: " << verify.output;

    ToolRun security = Shell("systemd-analyze security --offline=yes '" + unit.string() + "'");
    EXPECT_EQ(security.status, 0) << security.output;
    const std::string marker = "Overall exposure level for vellumora.service: ";
    auto at = security.output.find(marker);
    ASSERT_NE(at, std::string::npos) << security.output;
    const double exposure = std::strtod(security.output.c_str() + at + marker.size(), nullptr);
    EXPECT_GT(exposure, 0.0);
    EXPECT_LE(exposure, 4.5) << security.output;
  }
}

TEST(Journal, PriorityFromPrefixAndChannelFromTheLine) {
  const struct {
    const char* text;
    int32_t busy;
    JournalPriority priority;
    int32_t channel;
  } cases[] = {
      {"ERROR Printer office not found", 0, JournalPriority::kError, 0},
      {"ERROR: Folder /srv/in can't be found any more", 2, JournalPriority::kError, 2},
      {"DEBUG-INFO PDF page 3 rendered", 0, JournalPriority::kDebug, 0},
      {"OK:    Full access to folder /srv/in verified", 0, JournalPriority::kInfo, 0},
      {"DELAY in print channel 3 --- Too many (2) jobs in spooler", 3, JournalPriority::kInfo, 3},
      {"Print channel 12 ==> office", 0, JournalPriority::kInfo, 12},
      {"Input file /srv/in/channel 7.pdf found", 4, JournalPriority::kInfo, 4},
      {"ERROR: Folder /srv/channel 99999999999 can't be found any more", 0, JournalPriority::kError,
       0},
      {"Print channel scanning started", 0, JournalPriority::kInfo, 0},
  };
  for (const auto& c : cases) {
    const JournalFields f = JournalFieldsOf(c.text, c.busy);
    EXPECT_EQ(f.priority, c.priority) << c.text;
    EXPECT_EQ(f.channel, c.channel) << c.text;
  }
}

}  // namespace
}  // namespace vellumora
