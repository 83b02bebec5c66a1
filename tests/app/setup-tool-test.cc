// vellumora-setup as an administrator's script runs it: exit status, what it prints, and what
// it leaves in the data directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;  // exit status, or -1 when the tool did not exit normally
  std::string out, err;
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(fd);
  return text;
}

// Runs the tool on the data directory inside `sandbox`. A non-zero `fileSizeLimit` caps the
// size of every file the tool writes, as a full disk would.
ToolRun RunSetup(const fs::path& sandbox, std::vector<std::string> args, rlim_t fileSizeLimit = 0) {
  args.insert(args.begin(), VELLUMORA_SETUP_TOOL);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string dataRoot = "VELLUMORA_COMMON_APPDATA=" + sandbox.string();
  char* envp[] = {dataRoot.data(), nullptr};

  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    close(out[0]), close(out[1]), close(err[0]), close(err[1]);
    if (fileSizeLimit != 0) {
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      struct rlimit limit = {fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    execve(argv[0], argv.data(), envp);
    _exit(127);
  }
  close(out[1]), close(err[1]);
  ToolRun run;
  std::thread errReader([&] { run.err = Drain(err[0]); });
  run.out = Drain(out[0]);
  errReader.join();
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class SetupToolTest : public ::testing::Test {
 protected:
  SetupToolTest() { fs::create_directories(dir.path() / "Vellumora"); }
  fs::path Vch() const { return dir.path() / "Vellumora" / "Vellumora.vch"; }
  test::SandboxDir dir;
};

TEST_F(SetupToolTest, AddsChannelsOneAfterAnother) {
  ToolRun first =
      RunSetup(dir.path(), {"add-channel", "--folder", "/srv/in", "--printer", "office"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out.rfind("Channel 1: /srv/in -> office", 0), 0u) << first.out;
  ToolRun second = RunSetup(dir.path(), {"add-channel", "--folder", "/srv/b", "--printer", "lab"});
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out.rfind("Channel 2: /srv/b -> lab", 0), 0u) << second.out;
  EXPECT_EQ(fs::file_size(Vch()), 69u + 2 * 53244u);
}

TEST_F(SetupToolTest, NumbersOutOfRangeOrNotNumbersAreRefused) {
  for (const char* freq : {"0", "10000", "99999999999999999999", "5s", "", "-3"}) {
    ToolRun run = RunSetup(
        dir.path(), {"add-channel", "--folder", "/srv/in", "--printer", "p", "--freq", freq});
    EXPECT_EQ(run.status, 2) << freq;
    EXPECT_NE(run.err.find("Usage: vellumora-setup"), std::string::npos) << freq;
  }
  EXPECT_FALSE(fs::exists(Vch()));
}

TEST_F(SetupToolTest, FailedSaveExitsNonZeroAndNamesNoChannel) {
  ASSERT_EQ(RunSetup(dir.path(), {"add-channel", "--folder", "/srv/in", "--printer", "p"}).status,
            0);
  const std::string before = test::ReadFileBytes(Vch());

  // Two channels no longer fit below the limit; the small settings file still does.
  ToolRun run =
      RunSetup(dir.path(), {"add-channel", "--folder", "/srv/b", "--printer", "p"}, 64 * 1024);
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.out.find("Channel "), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("ERROR Settings not saved, cannot write "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("vellumora-setup: the settings could not be written"), std::string::npos)
      << run.err;
  EXPECT_EQ(test::ReadFileBytes(Vch()), before);
}

// The service face for servers: the unit it would install, and, without systemd on this
// machine, failures with the service object's texts and a non-zero exit.
TEST_F(SetupToolTest, ServiceUnitAndCommandsWithoutSystemd) {
  const std::string engine = fs::path(VELLUMORA_SETUP_TOOL).parent_path() / "vellumora";
  ToolRun unit = RunSetup(dir.path(), {"service", "unit", "--account", ".\\printer"});
  EXPECT_EQ(unit.status, 0) << unit.err;
  for (const std::string& line : std::vector<std::string>{
           "Type=notify", "ExecStart=\"" + engine + "\"", "User=printer", "WatchdogSec=60s",
           "SupplementaryGroups=lpadmin", "CapabilityBoundingSet=CAP_LEASE", "UMask=0002",
           "WantedBy=multi-user.target"})
    EXPECT_NE(unit.out.find("\n" + line + "\n"), std::string::npos) << line << "\n" << unit.out;
  // Without an account the service runs as its own, never as root.
  ToolRun own = RunSetup(dir.path(), {"service", "unit"});
  EXPECT_NE(own.out.find("\nUser=vellumora\n"), std::string::npos) << own.out;
  ToolRun root = RunSetup(dir.path(), {"service", "unit", "--account", "LocalSystem"});
  EXPECT_EQ(root.out.find("User="), std::string::npos) << root.out;
  ToolRun bad = RunSetup(dir.path(), {"service", "unit", "--account", "lp\nUser=root"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "");

  if (fs::is_directory("/run/systemd/system")) GTEST_SKIP() << "systemd runs here";
  const struct {
    const char* action;
    const char* error;
  } cases[] = {
      {"install", "Could not open SCManager to create service!"},
      {"remove", "Could not open SCManager to delete!"},
      {"start", "Could not open SCManager!"},
      {"stop", "Could not open SCManager!"},
  };
  for (const auto& c : cases) {
    ToolRun run = RunSetup(dir.path(), {"service", c.action});
    EXPECT_EQ(run.status, 1) << c.action;
    EXPECT_EQ(run.err, std::string("vellumora-setup: ") + c.error + "\n") << c.action;
  }
  ToolRun status = RunSetup(dir.path(), {"service", "status"});
  EXPECT_EQ(status.status, 0);
  EXPECT_NE(status.out.find("installed: no\nrunning: no\n"), std::string::npos) << status.out;
  EXPECT_EQ(RunSetup(dir.path(), {"service", "restart"}).status, 2);
  EXPECT_EQ(RunSetup(dir.path(), {"service", "start", "--account", "lp"}).status, 2);
}

}  // namespace
}  // namespace vellumora
