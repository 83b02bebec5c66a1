// Local time from the C library, with milliseconds.
#include <sys/time.h>

#include <ctime>

#include "platform/clock.h"

namespace vellumora {

LocalTime NowLocal() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  localtime_r(&ts.tv_sec, &tm);
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  t.weekday = (tm.tm_wday + 6) % 7;
  return t;
}

}  // namespace vellumora
