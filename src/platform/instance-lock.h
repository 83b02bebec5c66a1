// A machine-wide named lock that at most one process holds at a time.
#pragma once

#include <optional>
#include <string>

namespace vellumora {

class InstanceLock {
 public:
  // Takes the lock called `name` without waiting. Empty when another process holds it (or the
  // lock file cannot be created, which we treat the same: better one instance too few than two).
  static std::optional<InstanceLock> TryAcquire(const std::string& name);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&&) = delete;
  InstanceLock(const InstanceLock&) = delete;
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace vellumora
