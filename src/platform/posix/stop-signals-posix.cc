// SIGINT/SIGTERM: handlers that only store into lock-free atomics (async-signal-safe), and a
// service main thread's synchronous wait for them.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "platform/stop-signals.h"

namespace vellumora {

namespace {
std::atomic<int32_t>* g_first = nullptr;
std::atomic<int32_t>* g_second = nullptr;
// The idle wait's wake-up: a pipe whose read end the waiter polls. -1 until installed.
std::atomic<int> g_wakeRead{-1};
std::atomic<int> g_wakeWrite{-1};

extern "C" void OnStopSignal(int) {
  if (g_first) g_first->store(1);
  if (g_second) g_second->store(1);
  WakeStopWaiters();
}
}  // namespace

void WakeStopWaiters() {
  const int fd = g_wakeWrite.load();
  if (fd < 0) return;
  const int saved = errno;  // a signal handler must leave errno as it found it
  const char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);  // a full pipe is awake already
  errno = saved;
}

void WaitForStopWake(int32_t timeoutMs) {
  const int fd = g_wakeRead.load();
  if (fd < 0) {
    struct timespec t {};
    t.tv_sec = timeoutMs / 1000;
    t.tv_nsec = static_cast<long>(timeoutMs % 1000) * 1000000L;
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
    return;
  }
  struct pollfd p {};
  p.fd = fd;
  p.events = POLLIN;
  if (::poll(&p, 1, timeoutMs) > 0) {
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
  }
}

void InstallStopSignals(std::atomic<int32_t>* first, std::atomic<int32_t>* second) {
  static_assert(std::atomic<int32_t>::is_always_lock_free);
  static_assert(std::atomic<int>::is_always_lock_free);
  g_first = first;
  g_second = second;
  int fds[2];
  if (g_wakeRead.load() < 0 && ::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
    g_wakeWrite = fds[1];
    g_wakeRead = fds[0];
  }
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
