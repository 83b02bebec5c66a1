// vellumora-setup as an administrator's script runs it: exit status, what it prints, and what
// it leaves in the data directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/sandbox-dir.h"
#include "support/test-account.h"

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

// Runs the tool on the data directory inside `sandbox`, with a runtime folder of its own
// there. A non-zero `fileSizeLimit` caps the size of every file the tool writes, as a full
// disk would.
ToolRun RunSetup(const fs::path& sandbox, std::vector<std::string> args, rlim_t fileSizeLimit = 0) {
  args.insert(args.begin(), VELLUMORA_SETUP_TOOL);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string dataRoot = "VELLUMORA_COMMON_APPDATA=" + sandbox.string();
  const fs::path runtime = sandbox / "run";
  fs::create_directories(runtime);
  chmod(runtime.c_str(), 0700);
  std::string runtimeDir = "XDG_RUNTIME_DIR=" + runtime.string();
  char* envp[] = {dataRoot.data(), runtimeDir.data(), nullptr};

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

// A folder of root's that nobody else may use, with a file waiting in it.
fs::path ClosedFolder(const fs::path& where) {
  fs::create_directories(where);
  chmod(where.c_str(), 0700);
  test::WriteFileBytes(where / "waiting.jpg", "x");
  chmod((where / "waiting.jpg").c_str(), 0600);
  return where;
}

TEST_F(SetupToolTest, GrantGivesTheFolderAndItsFilesToTheAccount) {
  test::TestAccount account;
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  const fs::path in = ClosedFolder(dir.path() / "in");
  ToolRun run = RunSetup(dir.path(), {"grant", in.string(), "--account", account.name()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Granted " + in.string() + " to " + account.name() +
                         ": read, write and search, also on the files created in it from now "
                         "on; 1 waiting file(s) may now be read and written by it\n");
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(account.CanUseFolder(in));
  EXPECT_TRUE(account.CanRead(in / "waiting.jpg"));
  // What another program drops in afterwards, for itself only, the account may read.
  ASSERT_EQ(test::RunQuietly({"/bin/sh", "-c", "umask 077; echo later > \"$1\"", "sh",
                              (in / "later.pdf").string()}),
            0);
  EXPECT_TRUE(account.CanRead(in / "later.pdf"));
}

TEST_F(SetupToolTest, GrantNamesTheFolderOnTheWayThatStaysClosed) {
  test::TestAccount account;
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  const fs::path shut = dir.path() / "shut";
  const fs::path in = ClosedFolder(shut / "in");
  chmod(shut.c_str(), 0700);
  ToolRun run = RunSetup(dir.path(), {"grant", "--account", account.name(), in.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("Granted " + in.string()), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(shut.string() + " does not give " + account.name() +
                         " search permission. Fix: setfacl -m u:" + account.name() + ":x " +
                         shut.string() + "\n"),
            std::string::npos)
      << run.err;
  // The folder on the way is the administrator's to open: it is as it was.
  struct stat st {};
  ASSERT_EQ(stat(shut.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_FALSE(account.CanUseFolder(in));
}

TEST_F(SetupToolTest, GrantRefusesWhatItMustNotChange) {
  const fs::path in = dir.path() / "in";
  fs::create_directories(in);
  test::WriteFileBytes(dir.path() / "file", "x");
  fs::create_directory_symlink(in, dir.path() / "link");
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"grant", (dir.path() / "link").string(), "--account", "nobody"},
       1,
       "is a symbolic link; give the folder it points to"},
      {{"grant", (dir.path() / "file").string(), "--account", "nobody"}, 1, "is not a folder"},
      {{"grant", (dir.path() / "gone").string(), "--account", "nobody"}, 1, "does not exist"},
      {{"grant", "/", "--account", "nobody"}, 1, "the root folder is never given away"},
      {{"grant", in.string(), "--account", "vlm-no-such-account"},
       1,
       "there is no account vlm-no-such-account on this machine"},
      {{"grant"}, 2, "Usage: vellumora-setup"},
      {{"grant", in.string(), "--account"}, 2, "Usage: vellumora-setup"},
      {{"grant", in.string(), in.string()}, 2, "Usage: vellumora-setup"},
  };
  for (const auto& c : cases) {
    ToolRun run = RunSetup(dir.path(), c.args);
    EXPECT_EQ(run.status, c.status) << c.args.at(c.args.size() > 1 ? 1 : 0);
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(SetupToolTest, AddChannelWarnsAtOnceWhenTheServiceCannotUseTheFolder) {
  test::TestAccount account;
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  const fs::path closed = ClosedFolder(dir.path() / "closed");
  ToolRun warned = RunSetup(dir.path(), {"add-channel", "--folder", closed.string(), "--printer",
                                         "SCREEN", "--account", account.name()});
  EXPECT_EQ(warned.status, 0) << warned.err;
  EXPECT_EQ(warned.out.rfind("Channel 1: " + closed.string() + " -> SCREEN", 0), 0u) << warned.out;
  EXPECT_EQ(warned.err, "vellumora-setup: warning: the service's account " + account.name() +
                            " cannot use " + closed.string() + ": " + closed.string() +
                            " does not give " + account.name() +
                            " read, write and search permission. Fix: vellumora-setup grant " +
                            closed.string() + " --account " + account.name() + "\n");

  // --grant: the folder is the account's before the channel is added, and nothing is left to
  // warn about.
  const fs::path granted = ClosedFolder(dir.path() / "granted");
  ToolRun grant = RunSetup(dir.path(), {"add-channel", "--folder", granted.string(), "--printer",
                                        "SCREEN", "--grant", "--account", account.name()});
  EXPECT_EQ(grant.status, 0) << grant.err;
  EXPECT_EQ(grant.err, "");
  EXPECT_NE(grant.out.find("Granted " + granted.string() + " to " + account.name()),
            std::string::npos);
  EXPECT_NE(grant.out.find("Channel 2: " + granted.string()), std::string::npos) << grant.out;
  EXPECT_TRUE(account.CanUseFolder(granted));
  EXPECT_TRUE(account.CanRead(granted / "waiting.jpg"));

  // A folder that cannot be granted adds no channel.
  ToolRun missing =
      RunSetup(dir.path(), {"add-channel", "--folder", (dir.path() / "gone").string(), "--printer",
                            "SCREEN", "--grant", "--account", account.name()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out.find("Channel "), std::string::npos) << missing.out;
  EXPECT_EQ(fs::file_size(Vch()), 69u + 2 * 53244u);
}

}  // namespace
}  // namespace vellumora
