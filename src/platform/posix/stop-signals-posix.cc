// SIGINT/SIGTERM handlers that only store into lock-free atomics (async-signal-safe).
#include <csignal>

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

}  // namespace vellumora
