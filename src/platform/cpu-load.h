// The machine's processor time counters, sampled by the scan loop's load gate and the load gauge.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vellumora {

// Cumulative processor times of all processors since boot, in the system's own units (only
// their ratios matter). As with the classic system-times call, `kernel` includes `idle`.
struct CpuTimes {
  uint64_t idle = 0;
  uint64_t kernel = 0;
  uint64_t user = 0;
};

// The current counters; empty when they cannot be read.
std::optional<CpuTimes> ReadCpuTimes();

// Parses the aggregate "cpu" line of /proc/stat text. Idle is idle + iowait; kernel is system +
// irq + softirq + steal + idle; user is user + nice (guest time is already part of user).
std::optional<CpuTimes> ParseProcStat(std::string_view text);

}  // namespace vellumora
