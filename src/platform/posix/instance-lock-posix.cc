// The single-instance lock: an exclusive flock on a file in a runtime folder that only we may
// write to. The kernel drops the lock when the process ends in any way, so a crash never
// leaves it stale.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/instance-lock.h"
#include "platform/paths.h"

namespace vellumora {

namespace {

std::optional<InstanceLock> Refuse(LockRefusal* refusal, const std::string& path,
                                   const std::string& reason, bool held = false) {
  if (refusal) *refusal = LockRefusal{held, path, reason};
  return std::nullopt;
}

}  // namespace

std::optional<InstanceLock> InstanceLock::TryAcquire(const std::string& name,
                                                     LockRefusal* refusal) {
  std::string error;
  auto folder = RuntimeFolder(&error);
  if (!folder) return Refuse(refusal, "", "no runtime folder: " + error);
  return TryAcquireIn(folder->string(), name, refusal);
}

std::optional<InstanceLock> InstanceLock::TryAcquireIn(const std::string& folder,
                                                       const std::string& name,
                                                       LockRefusal* refusal) {
  std::string error;
  if (!EnsurePrivateFolder(folder, 0700, &error)) return Refuse(refusal, "", error);
  const std::string path = folder + (folder.ends_with('/') ? "" : "/") + name;
  // O_NOFOLLOW: a link in its place is refused; O_NONBLOCK: so is a FIFO, without waiting.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int err = errno;
    return Refuse(refusal, path,
                  path + (err == ELOOP ? " is a symbolic link"
                                       : std::string(" cannot be opened: ") + std::strerror(err)));
  }
  struct stat st {};
  std::string wrong;
  if (::fstat(fd, &st) != 0)
    wrong = std::string(" cannot be examined: ") + std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    wrong = " is not a regular file";
  else if (st.st_uid != ::geteuid())
    wrong = " belongs to user " + std::to_string(st.st_uid) + ", not to us";
  if (!wrong.empty()) {
    ::close(fd);
    return Refuse(refusal, path, path + wrong);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) return Refuse(refusal, path, "lock " + path + " is held", true);
    return Refuse(refusal, path, path + " cannot be locked: " + std::strerror(err));
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
