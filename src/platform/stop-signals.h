// Turns SIGINT and SIGTERM into a stop request the engine polls.
#pragma once

#include <atomic>
#include <cstdint>

namespace vellumora {

// After this call SIGINT and SIGTERM set every given flag to 1 instead of ending the process.
// The flags must live for the rest of the process.
void InstallStopSignals(std::atomic<int32_t>* first, std::atomic<int32_t>* second = nullptr);

// Blocks SIGINT and SIGTERM in the calling thread and in the threads it starts afterwards, so
// that they are taken only by WaitForStopSignal (a service's main thread waiting for its stop).
void BlockStopSignals();
// Undoes BlockStopSignals for the calling thread.
void UnblockStopSignals();
// Waits up to timeoutMs for a blocked SIGINT or SIGTERM; true when one was taken.
bool WaitForStopSignal(int32_t timeoutMs);

// An idle wait that a stop cuts short: WaitForStopWake waits up to timeoutMs, and returns early
// once WakeStopWaiters has been called since its last return. The stop signals installed by
// InstallStopSignals wake it too. Without InstallStopSignals it is a plain sleep.
void WaitForStopWake(int32_t timeoutMs);
// Async-signal-safe; from any thread.
void WakeStopWaiters();

}  // namespace vellumora
