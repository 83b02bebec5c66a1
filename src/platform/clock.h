// Local wall-clock time as the engine formats it in log lines and file names.
#pragma once

#include <cstdint>
#include <functional>

namespace vellumora {

struct LocalTime {
  int year = 0;         // e.g. 2026
  int month = 0;        // 1..12
  int day = 0;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..60
  int millisecond = 0;  // 0..999
  int weekday = 0;      // 0 Monday .. 6 Sunday
};

// The current local time of the machine.
LocalTime NowLocal();
// A point in time (seconds and nanoseconds since the epoch) in local time.
LocalTime ToLocalTime(int64_t seconds, int64_t nanoseconds);

// Injected wherever tests must control the time of day.
using LocalClock = std::function<LocalTime()>;

}  // namespace vellumora
