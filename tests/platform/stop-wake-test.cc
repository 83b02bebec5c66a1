// The scan loop's idle wait: it lasts its time unless a stop comes, which cuts it short from
// another thread or from a signal.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

#include "platform/stop-signals.h"

namespace vellumora {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsOf(const std::function<void()>& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(StopWakeTest, AStopCutsTheIdleWaitShort) {
  static std::atomic<int32_t> stop{0}, quit{0};
  InstallStopSignals(&stop, &quit);

  // Nothing comes: the wait lasts its time.
  EXPECT_GE(SecondsOf([] { WaitForStopWake(200); }), 0.19);

  // A wake from another thread, and a stop signal, each end a 30 s wait at once.
  std::thread waker([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    WakeStopWaiters();
  });
  EXPECT_LT(SecondsOf([] { WaitForStopWake(30000); }), 10);
  waker.join();
  std::thread signaller([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::raise(SIGTERM);
  });
  EXPECT_LT(SecondsOf([] { WaitForStopWake(30000); }), 10);
  signaller.join();
  EXPECT_EQ(stop.load(), 1);
  EXPECT_EQ(quit.load(), 1);

  // A wake that came before the wait is not lost; once taken, the next wait lasts again.
  WakeStopWaiters();
  EXPECT_LT(SecondsOf([] { WaitForStopWake(30000); }), 10);
  EXPECT_GE(SecondsOf([] { WaitForStopWake(100); }), 0.09);
}

}  // namespace
}  // namespace vellumora
