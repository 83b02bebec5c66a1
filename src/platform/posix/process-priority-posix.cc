// Process priority through the nice value.
#include <sys/resource.h>

#include <cerrno>

#include "platform/process-priority.h"

namespace vellumora {

namespace {
constexpr int kBelowNormal = 10;
}

bool LowerProcessPriority() {
  errno = 0;
  int current = ::getpriority(PRIO_PROCESS, 0);
  if (current == -1 && errno != 0) return false;
  if (current >= kBelowNormal) return true;  // already as low or lower: never raise it
  return ::setpriority(PRIO_PROCESS, 0, kBelowNormal) == 0;
}

}  // namespace vellumora
