// Turns SIGINT and SIGTERM into a stop request the engine polls.
#pragma once

#include <atomic>
#include <cstdint>

namespace vellumora {

// After this call SIGINT and SIGTERM set every given flag to 1 instead of ending the process.
// The flags must live for the rest of the process.
void InstallStopSignals(std::atomic<int32_t>* first, std::atomic<int32_t>* second = nullptr);

}  // namespace vellumora
