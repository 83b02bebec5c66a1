// The single-instance lock: an exclusive flock on a file in the runtime folder. The kernel
// drops the lock when the process ends in any way, so a crash never leaves it stale.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/instance-lock.h"
#include "platform/paths.h"

namespace vellumora {

std::optional<InstanceLock> InstanceLock::TryAcquire(const std::string& name) {
  const std::string path = (RuntimeFolder() / name).string();
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return std::nullopt;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  return InstanceLock(fd);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) {
  other.fd_ = -1;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
}

}  // namespace vellumora
