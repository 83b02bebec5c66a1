// SIGINT/SIGTERM: handlers that only store into lock-free atomics (async-signal-safe), and a
// service main thread's synchronous wait for them.
#include <cerrno>
#include <csignal>
#include <ctime>

#include "platform/stop-signals.h"

namespace vellumora {

namespace {
std::atomic<int32_t>* g_first = nullptr;
std::atomic<int32_t>* g_second = nullptr;

extern "C" void OnStopSignal(int) {
  if (g_first) g_first->store(1);
  if (g_second) g_second->store(1);
}
}  // namespace

void InstallStopSignals(std::atomic<int32_t>* first, std::atomic<int32_t>* second) {
  static_assert(std::atomic<int32_t>::is_always_lock_free);
  g_first = first;
  g_second = second;
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

namespace {
sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void BlockStopSignals() {
  sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void UnblockStopSignals() {
  sigset_t set = StopSet();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool WaitForStopSignal(int32_t timeoutMs) {
  sigset_t set = StopSet();
  struct timespec timeout {};
  timeout.tv_sec = timeoutMs / 1000;
  timeout.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
  int r = 0;
  do {
    r = sigtimedwait(&set, nullptr, &timeout);
  } while (r < 0 && errno == EINTR);
  return r == SIGINT || r == SIGTERM;
}

}  // namespace vellumora
