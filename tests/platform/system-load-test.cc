// Processor time counters and the process priority.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/cpu-load.h"
#include "platform/process-priority.h"

namespace vellumora {
namespace {

TEST(ParseProcStat, Cases) {
  struct Case {
    const char* text;
    std::optional<CpuTimes> expected;
  };
  // user nice system idle iowait irq softirq steal guest guest_nice
  const Case cases[] = {
      {"cpu  10 2 30 400 5 6 7 8 9 10\ncpu0 1 2 3 4\n", CpuTimes{405, 30 + 6 + 7 + 8 + 405, 12}},
      {"cpu 1 2 3 4\n", CpuTimes{4, 7, 3}},  // old kernels: four fields
      {"cpu 1 2 3\n", std::nullopt},
      {"cpu0 1 2 3 4\n", std::nullopt},
      {"cpu 1 x 3 4\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    auto got = ParseProcStat(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.text;
    if (got) {
      EXPECT_EQ(got->idle, c.expected->idle) << c.text;
      EXPECT_EQ(got->kernel, c.expected->kernel) << c.text;
      EXPECT_EQ(got->user, c.expected->user) << c.text;
    }
  }
  auto now = ReadCpuTimes();
  ASSERT_TRUE(now.has_value());
  EXPECT_GE(now->kernel, now->idle);
}

// Runs `body` in a child process and returns its exit code, so the test process keeps its
// own priority.
int InChild(int startNice, int (*body)()) {
  pid_t pid = fork();
  if (pid == 0) {
    setpriority(PRIO_PROCESS, 0, startNice);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LowerProcessPriority, BelowNormalAndNeverRaised) {
  auto lowerAndReport = []() -> int {
    if (!LowerProcessPriority()) return 99;
    errno = 0;
    return getpriority(PRIO_PROCESS, 0);
  };
  EXPECT_EQ(InChild(0, lowerAndReport), 10);
  EXPECT_EQ(InChild(15, lowerAndReport), 15);
}

}  // namespace
}  // namespace vellumora
