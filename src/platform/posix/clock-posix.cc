// Local time from the C library, with milliseconds.
#include <sys/time.h>

#include <ctime>

#include "platform/clock.h"

namespace vellumora {

LocalTime NowLocal() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ToLocalTime(ts.tv_sec, ts.tv_nsec);
}

LocalTime ToLocalTime(int64_t seconds, int64_t nanoseconds) {
  std::tm tm{};
  const time_t s = static_cast<time_t>(seconds);
  localtime_r(&s, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(nanoseconds / 1000000);
  t.weekday = (tm.tm_wday + 6) % 7;
  return t;
}

}  // namespace vellumora
