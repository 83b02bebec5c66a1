// main() for test programs that print through the private CUPS scheduler: opens the sandbox,
// gives every test clean queues and keeps the sandbox for inspection when something fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

#include "support/cups-sandbox.h"

namespace {

using vellumora::test::CupsSandbox;

class CupsSandboxListener : public ::testing::EmptyTestEventListener {
 public:
  explicit CupsSandboxListener(CupsSandbox& cups) : cups_(cups) {}

  void OnTestStart(const ::testing::TestInfo& test) override {
    // Noted here: asking gtest for the current test while it reports a result deadlocks.
    test_name_ = std::string(test.test_suite_name()) + "." + test.name();
    std::string why;
    if (!cups_.Reset(&why)) ADD_FAILURE() << "the CUPS sandbox could not be reset: " << why;
  }

  void OnTestPartResult(const ::testing::TestPartResult& result) override {
    if (!result.failed() || kept_) return;
    kept_ = true;
    cups_.Keep(test_name_ + " failed");
    std::cerr << "[ cups     ] the CUPS sandbox will be kept for inspection: "
              << cups_.dir().string()
              << " (scheduler log: " << (cups_.dir() / "log" / "error_log").string() << ")\n";
  }

 private:
  CupsSandbox& cups_;
  std::string test_name_ = "set-up";
  bool kept_ = false;
};

// DIR/running/PID exists while this program runs. When it ends without returning from main
// (a crash, a sanitizer abort, a kill after a timeout), the marker stays and the sandbox is
// kept. Interrupting the program (SIGINT, SIGTERM) is no failure: the marker goes with it.
class RunningMarker {
 public:
  explicit RunningMarker(const std::filesystem::path& dir)
      : file_(dir / "running" / std::to_string(getpid())) {
    std::ofstream(file_) << "running\n";
    active_file_ = file_.c_str();
    for (int sig : {SIGINT, SIGTERM}) std::signal(sig, OnInterrupt);
  }
  ~RunningMarker() {
    for (int sig : {SIGINT, SIGTERM}) std::signal(sig, SIG_DFL);
    active_file_ = nullptr;
    std::error_code ec;
    std::filesystem::remove(file_, ec);
  }
  RunningMarker(const RunningMarker&) = delete;
  RunningMarker& operator=(const RunningMarker&) = delete;

 private:
  static void OnInterrupt(int sig) {
    if (active_file_ != nullptr) unlink(active_file_);
    std::signal(sig, SIG_DFL);
    raise(sig);
  }

  static inline const char* volatile active_file_ = nullptr;
  std::filesystem::path file_;
};

bool IsDeathTestChild(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]).starts_with("--gtest_internal_run_death_test")) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // InitGoogleTest removes its own flags from argv: look before it does.
  const bool death_test_child = IsDeathTestChild(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests (ctest's test discovery) needs no scheduler.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();

  std::string why;
  CupsSandbox* cups = CupsSandbox::Open(&why);
  if (cups == nullptr) {
    std::cerr << "No private CUPS scheduler: " << why << "\n";
    return 1;
  }
  ::testing::UnitTest::GetInstance()->listeners().Append(new CupsSandboxListener(*cups));
  // A death test's child runs inside the parent's test; only the parent marks the run.
  if (death_test_child) return RUN_ALL_TESTS();
  RunningMarker marker(cups->dir());
  return RUN_ALL_TESTS();
}
