// The real executable: start banner, single instance, orderly stop on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "kernel/klog.h"
#include "kernel/text-fields.h"
#include "support/sandbox-dir.h"

extern char** environ;

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starts the program with its data and runtime folders inside the sandbox.
pid_t StartProgram(const fs::path& sandbox) {
  std::vector<std::string> env = {"VELLUMORA_COMMON_APPDATA=" + sandbox.string(),
                                  "XDG_RUNTIME_DIR=" + sandbox.string(), "PATH=/usr/bin:/bin"};
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
  const std::string held = "ERROR Vellumora is running already (lock " +
                           (dir.path() / "Vellumora.MUTEX").string() + " is held)";
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

}  // namespace
}  // namespace vellumora
