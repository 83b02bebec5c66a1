// The real executable: start banner, single instance, orderly stop on SIGTERM.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include "kernel/klog.h"
#include "kernel/text-fields.h"
#include "support/sandbox-dir.h"

extern char** environ;

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A runtime folder of the test's own, private as XDG_RUNTIME_DIR is (0700): the program's
// single-instance lock lives there, apart from any other Vellumora on the machine.
fs::path PrivateRuntimeFolder(const fs::path& sandbox) {
  const fs::path run = sandbox / "run";
  fs::create_directories(run);
  fs::permissions(run, fs::perms::owner_all);
  return run;
}

// Starts the program on the data directory below `appData` with `runtime` as its runtime folder.
pid_t StartProgramOn(const fs::path& appData, const fs::path& runtime,
                     const std::vector<std::string>& extraEnv = {}) {
  std::vector<std::string> env = {"VELLUMORA_COMMON_APPDATA=" + appData.string(),
                                  "XDG_RUNTIME_DIR=" + runtime.string(), "PATH=/usr/bin:/bin"};
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = VELLUMORA_EXECUTABLE;
  char* argv[] = {exe.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Starts the program with its data and runtime folders inside the sandbox.
pid_t StartProgram(const fs::path& sandbox, const std::vector<std::string>& extraEnv = {}) {
  return StartProgramOn(sandbox, PrivateRuntimeFolder(sandbox), extraEnv);
}

// Waits up to `limit` for the process to end; returns its exit status, or -1 if it still runs.
int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return -1;
}

std::vector<std::string> LogMessages(const fs::path& logFile) {
  std::vector<std::string> out;
  if (!fs::exists(logFile)) return out;
  C_KLog reader(logFile.string());
  auto lines = reader.Lines();
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::string line = Utf16ToUtf8(lines[i]);
    out.push_back(line.size() > 15 ? line.substr(15) : line);  // drop "mm.dd. hh:nn   "
  }
  return out;
}

bool WaitForLog(const fs::path& logFile, const std::string& message, std::size_t count) {
  for (int i = 0; i < 250; ++i) {
    auto m = LogMessages(logFile);
    if (static_cast<std::size_t>(std::count(m.begin(), m.end(), message)) >= count) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

// Starts the program as `account` (its primary group `account` as well, and `groups` besides)
// with its data folder below `sandbox` and its runtime folder `runtime`. Its standard output
// goes to `out` (-1: nowhere); `alsoClose` is closed in the child.
pid_t StartProgramAs(uid_t account, const std::vector<gid_t>& groups, const fs::path& sandbox,
                     const fs::path& runtime, int out, int alsoClose = -1) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  dup2(out >= 0 ? out : open("/dev/null", O_WRONLY), STDOUT_FILENO);
  if (out >= 0) close(out);
  if (alsoClose >= 0) close(alsoClose);
  if (setgroups(groups.size(), groups.data()) != 0 || setresgid(account, account, account) != 0 ||
      setresuid(account, account, account) != 0)
    _exit(126);
  std::string exe = VELLUMORA_EXECUTABLE;
  std::string appData = "VELLUMORA_COMMON_APPDATA=" + sandbox.string();
  std::string xdg = "XDG_RUNTIME_DIR=" + runtime.string();
  std::string path = "PATH=/usr/bin:/bin";
  char* argv[] = {exe.data(), nullptr};
  char* envp[] = {appData.data(), xdg.data(), path.data(), nullptr};
  execve(exe.c_str(), argv, envp);
  _exit(127);
}

TEST(Program, BannerSingleInstanceAndOrderlyStop) {
  test::SandboxDir dir;
  const fs::path logFile = dir.path() / "Vellumora" / "Vellumora.log";
  const std::string started = "Vellumora startet as desktop application";

  pid_t first = StartProgram(dir.path());
  ASSERT_TRUE(WaitForLog(logFile, started, 1));
  EXPECT_TRUE(fs::is_directory(dir.path() / "Vellumora" / "Temp"));
  const std::vector<std::string> banner = {" ",
                                           std::string(70, '='),
                                           "Vellumora",
                                           std::string(70, '='),
                                           (dir.path() / "Vellumora").string() + "/",
                                           started};
  auto lines = LogMessages(logFile);
  ASSERT_GE(lines.size(), banner.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + banner.size()), banner);
  // The settings are loaded at start: without a settings file that is reported.
  EXPECT_TRUE(WaitForLog(
      logFile, "ERROR Ini-file not found: " + (dir.path() / "Vellumora" / "Vellumora.ini").string(),
      1));

  // A second instance writes its banner, finds the first one running and ends at once,
  // saying why.
  pid_t second = StartProgram(dir.path());
  EXPECT_EQ(WaitExit(second, 5s), 0);
  EXPECT_TRUE(WaitForLog(logFile, started, 2));
  // The one lock file in the runtime folder, named for the data directory.
  std::vector<fs::path> locks;
  for (const auto& e : fs::directory_iterator(dir.path() / "run")) locks.push_back(e.path());
  ASSERT_EQ(locks.size(), 1u);
  EXPECT_TRUE(
      std::regex_match(locks[0].filename().string(), std::regex("Vellumora\\.MUTEX-[0-9a-f]{16}")))
      << locks[0];
  const std::string held =
      "ERROR Vellumora is running already (lock " + locks[0].string() + " is held)";
  auto after = LogMessages(logFile);
  auto secondStart =
      std::find(std::find(after.begin(), after.end(), started) + 1, after.end(), started);
  ASSERT_NE(secondStart, after.end());
  EXPECT_EQ(std::count(after.begin(), after.end(), held), 1);
  EXPECT_NE(std::find(secondStart, after.end(), held), after.end());
  EXPECT_EQ(WaitExit(first, 0ms), -1) << "the first instance must still run";

  kill(first, SIGTERM);
  EXPECT_EQ(WaitExit(first, 5s), 0);
}

// One desktop instance per data directory: a second start on the same directory, also when
// named through a link to it, ends at once saying which lock is held; a start on another data
// directory runs beside the first, in the same runtime folder as the same account.
TEST(Program, OneInstancePerDataDirectory) {
  const std::string started = "Vellumora startet as desktop application";
  struct Case {
    const char* what;
    const char* second;  // the second start's VELLUMORA_COMMON_APPDATA, in the sandbox
    bool refused;
  };
  const Case cases[] = {
      {"same data directory", "a", true},
      {"same data directory through a link", "link-to-a", true},
      {"another data directory", "b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::SandboxDir dir;
    const fs::path run = PrivateRuntimeFolder(dir.path());
    fs::create_directories(dir.path() / "a");
    fs::create_directories(dir.path() / "b");
    fs::create_directory_symlink(dir.path() / "a", dir.path() / "link-to-a");
    const fs::path logA = dir.path() / "a" / "Vellumora" / "Vellumora.log";
    const fs::path logB = dir.path() / "b" / "Vellumora" / "Vellumora.log";

    const pid_t first = StartProgramOn(dir.path() / "a", run);
    // Whatever fails below, neither instance outlives the test.
    pid_t second = -1;
    struct Reaper {
      const pid_t& pid;
      ~Reaper() {
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, WNOHANG) == 0) {  // still running, not reaped
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
        }
      }
    } reapFirst{first}, reapSecond{second};
    ASSERT_TRUE(WaitForLog(logA, started, 1));
    second = StartProgramOn(dir.path() / c.second, run);
    if (c.refused) {
      EXPECT_EQ(WaitExit(second, 5s), 0);
      const auto lines = LogMessages(logA);
      EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                              [&](const std::string& l) {
                                return l.rfind("ERROR Vellumora is running already (lock " +
                                                   run.string() + "/Vellumora.MUTEX-",
                                               0) == 0;
                              }),
                1)
          << ::testing::PrintToString(lines);
    } else {
      EXPECT_TRUE(WaitForLog(logB, started, 1));
      // Both scan their own data directory until told to stop.
      EXPECT_TRUE(WaitForLog(
          logB, "Print channel scanning started, waiting for new print files now ...", 1));
      EXPECT_EQ(WaitExit(second, 300ms), -1) << "the second instance must run";
      for (const fs::path& log : {logA, logB}) {
        const auto lines = LogMessages(log);
        EXPECT_EQ(
            std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("ERROR Vellumora", 0) == 0; }),
            0)
            << ::testing::PrintToString(lines);
      }
      kill(second, SIGTERM);
      EXPECT_EQ(WaitExit(second, 5s), 0);
    }
    EXPECT_EQ(WaitExit(first, 0ms), -1) << "the first instance must still run";
    kill(first, SIGTERM);
    EXPECT_EQ(WaitExit(first, 5s), 0);
  }
}

// The notification socket systemd would own: a Unix datagram socket in the sandbox.
class NotifySocket {
 public:
  explicit NotifySocket(const fs::path& path) : path_(path.string()) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
    bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~NotifySocket() {
    if (fd_ >= 0) close(fd_);
  }
  bool bound() const { return bound_; }
  const std::string& path() const { return path_; }

  // Reads messages for up to `limit`, splitting each into its assignments, until `until`
  // has been seen (or for the whole time when it is empty).
  void Collect(std::chrono::milliseconds limit, const std::string& until = {}) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buffer[4096];
      ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) continue;
      std::string message(buffer, static_cast<std::size_t>(n));
      for (std::size_t pos = 0; pos < message.size();) {
        auto end = message.find('\n', pos);
        if (end == std::string::npos) end = message.size();
        assignments.push_back(message.substr(pos, end - pos));
        pos = end + 1;
      }
      if (!until.empty() && Index(until) >= 0) return;
    }
  }
  // Position of the first assignment equal to `text`, or -1.
  long Index(const std::string& text) const {
    auto it = std::find(assignments.begin(), assignments.end(), text);
    return it == assignments.end() ? -1 : it - assignments.begin();
  }

  std::vector<std::string> assignments;

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

// Started by systemd (NOTIFY_SOCKET and INVOCATION_ID set): the service branch runs the
// engine as a notify service until SIGTERM, and stops in order.
TEST(Program, RunsAsNotifyServiceUntilSigterm) {
  test::SandboxDir dir;
  const fs::path logFile = dir.path() / "Vellumora" / "Vellumora.log";
  NotifySocket notify(dir.path() / "notify.sock");
  ASSERT_TRUE(notify.bound());

  pid_t pid = StartProgram(
      dir.path(), {"NOTIFY_SOCKET=" + notify.path(),
                   "INVOCATION_ID=0123456789abcdef0123456789abcdef", "WATCHDOG_USEC=400000"});
  // Whatever fails below, the service does not outlive the test.
  struct Reaper {
    pid_t pid;
    bool reaped = false;
    ~Reaper() {
      if (reaped) return;
      kill(pid, SIGKILL);
      WaitExit(pid, 5s);
    }
  } reaper{pid};
  notify.Collect(20s, "READY=1");
  ASSERT_GE(notify.Index("READY=1"), 0) << "no READY=1";
  // The watchdog hears from the scan loop once it runs.
  notify.Collect(30s, "WATCHDOG=1");
  ASSERT_GE(notify.Index("WATCHDOG=1"), 0) << "no WATCHDOG=1";
  const int early = WaitExit(pid, 0ms);
  reaper.reaped = early != -1;
  ASSERT_EQ(early, -1) << "the service must still run";

  kill(pid, SIGTERM);
  // Keep reading, as systemd does: a full socket queue would block the sender. The stop must
  // end well within the 25 s the service asks for.
  int exitStatus = -1;
  for (int i = 0; i < 200 && exitStatus == -1; ++i) {
    notify.Collect(50ms);
    exitStatus = WaitExit(pid, 0ms);
  }
  reaper.reaped = exitStatus != -1;
  EXPECT_EQ(exitStatus, 0);
  notify.Collect(300ms);

  const long ready = notify.Index("READY=1");
  const long running = notify.Index("STATUS=... service is running");
  const long watchdog = notify.Index("WATCHDOG=1");
  const long stopping = notify.Index("STOPPING=1");
  const long extend = notify.Index("EXTEND_TIMEOUT_USEC=25000000");
  const long stopLine = notify.Index("STATUS=Stop message sent to service ...");
  EXPECT_GE(ready, 0);
  EXPECT_GT(running, ready);
  EXPECT_GT(watchdog, ready);
  EXPECT_GT(stopping, watchdog);
  EXPECT_GT(extend, stopping);
  EXPECT_GT(stopLine, extend);
  EXPECT_EQ(std::count(notify.assignments.begin(), notify.assignments.end(), "STOPPING=1"), 1);

  // The log: banner, then the service's start lines, then its stop; no desktop start.
  auto lines = LogMessages(logFile);
  auto at = [&](const std::string& m) { return std::find(lines.begin(), lines.end(), m); };
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[2], "Vellumora");
  ASSERT_NE(at("Loading program ...."), lines.end());
  EXPECT_EQ(at("Loading program ....") - lines.begin(), 5);
  EXPECT_LT(at("Loading program ...."), at("... service is running"));
  EXPECT_LT(at("... service is running"), at("Stop message sent to service ..."));
  EXPECT_LT(at("Stop message sent to service ..."), at("Print channel scanning stopped"));
  EXPECT_EQ(at("Vellumora started as desktop application for service setup"), lines.end());
  EXPECT_EQ(at("Vellumora startet as desktop application"), lines.end());
  // A service that runs as root says once what that means.
  const auto warnings = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("WARNING The service runs as root: every member of lpadmin", 0) == 0;
  });
  EXPECT_EQ(warnings, geteuid() == 0 ? 1 : 0);
}

// A process that merely inherited systemd's variables from a service it was started inside
// (a shell in a terminal that runs as a user service) is a desktop start.
TEST(Program, InheritedInvocationIdIsNoServiceStart) {
  test::SandboxDir dir;
  const fs::path logFile = dir.path() / "Vellumora" / "Vellumora.log";
  pid_t pid = StartProgram(
      dir.path(), {"INVOCATION_ID=0123456789abcdef0123456789abcdef", "SYSTEMD_EXEC_PID=1"});
  ASSERT_TRUE(WaitForLog(logFile, "Vellumora startet as desktop application", 1));
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid, 5s), 0);
}

// A desktop instance of a user who may not write the shared data directory (not a member of
// its group) says so in its start-up report instead of failing silently: the report reaches
// the terminal even though the log file cannot be written.
TEST(Program, DesktopWithoutWriteAccessToTheDataDirectorySaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start the program as another user";
  test::SandboxDir dir;
  const fs::path data = dir.path() / "Vellumora";
  fs::create_directories(data / "Temp");
  fs::permissions(data, fs::perms(0755));
  const fs::path runtime = dir.path() / "run";
  fs::create_directories(runtime);
  chown(runtime.c_str(), 65534, 65534);
  chmod(runtime.c_str(), 0700);

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = StartProgramAs(65534, {}, dir.path(), runtime, out[1], out[0]);
  close(out[1]);
  const std::string expected =
      "ERROR: Access privilege to folder " + data.string() + " insufficient";
  std::string seen;
  auto deadline = std::chrono::steady_clock::now() + 30s;
  while (seen.find(expected) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid, 10s), 0);
  close(out[0]);
  EXPECT_NE(seen.find(expected), std::string::npos) << seen;
  EXPECT_FALSE(fs::exists(data / "Vellumora.log"));
}

// The engine as the service runs it, as an account that is not root (nobody, with the group
// lpadmin like the service account): a channel on a root-only folder reports the folder as not
// accessible at every scan, and the file in it is neither printed nor deleted.
TEST(Program, WithoutRootARootOnlyFolderIsNeitherReadNorEmptied) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start the program as another user";
  const struct group* lpadmin = getgrnam("lpadmin");
  if (lpadmin == nullptr) GTEST_SKIP() << "no group lpadmin here";
  constexpr uid_t kAccount = 65534;
  test::SandboxDir dir;
  chmod(dir.path().c_str(), 0755);
  const fs::path data = dir.path() / "Vellumora";
  const fs::path secret = dir.path() / "secret";
  fs::create_directories(secret);
  chmod(secret.c_str(), 0700);
  test::WriteFileBytes(secret / "secret.txt", "root only\n");

  const std::string tool = (fs::path(VELLUMORA_EXECUTABLE).parent_path() / "vellumora-setup");
  const std::string add = "VELLUMORA_COMMON_APPDATA='" + dir.path().string() + "' '" + tool +
                          "' add-channel --folder '" + secret.string() +
                          "' --printer nowhere --freq 1 --allow-raw >/dev/null 2>&1";
  ASSERT_EQ(std::system(add.c_str()), 0) << add;
  for (const auto& entry : fs::recursive_directory_iterator(data))
    chown(entry.path().c_str(), kAccount, lpadmin->gr_gid);
  chown(data.c_str(), kAccount, lpadmin->gr_gid);
  const fs::path runtime = dir.path() / "run";
  fs::create_directories(runtime);
  chown(runtime.c_str(), kAccount, kAccount);
  chmod(runtime.c_str(), 0700);

  pid_t pid = StartProgramAs(kAccount, {lpadmin->gr_gid}, dir.path(), runtime, -1);
  ASSERT_GE(pid, 0);
  const fs::path logFile = data / "Vellumora.log";
  const std::string refused =
      "ERROR: Access privilege to folder " + secret.string() + " insufficient";
  EXPECT_TRUE(WaitForLog(logFile,
                         "Print channel scanning started, waiting for new print files now ...", 1));
  // Two scans, a second apart: the folder is refused at each.
  EXPECT_TRUE(WaitForLog(logFile, refused, 1)) << "no access ERROR for " << secret;
  std::this_thread::sleep_for(1500ms);
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitExit(pid, 10s), 0);
  EXPECT_TRUE(fs::exists(secret / "secret.txt"));
  for (const std::string& line : LogMessages(logFile))
    EXPECT_EQ(line.find("secret.txt"), std::string::npos) << line;
}

}  // namespace
}  // namespace vellumora
