// A machine-wide named lock that at most one process holds at a time.
#pragma once

#include <optional>
#include <string>

namespace vellumora {

// Why a lock was not taken.
struct LockRefusal {
  bool heldElsewhere = false;  // another process holds it
  std::string path;            // the lock file, when it was got that far
  std::string reason;          // what went wrong, for the log
};

class InstanceLock {
 public:
  // Takes the lock called `name` in the runtime folder without waiting. Empty when another
  // process holds it, or when the lock file cannot be had safely (which we treat the same:
  // better one instance too few than two); *refusal (when given) says which and why.
  static std::optional<InstanceLock> TryAcquire(const std::string& name,
                                                LockRefusal* refusal = nullptr);
  // The same in `folder`, which must be a folder of ours that nobody else may write to. The
  // lock file must be a regular file of ours: a link or another user's file is refused.
  static std::optional<InstanceLock> TryAcquireIn(const std::string& folder,
                                                  const std::string& name,
                                                  LockRefusal* refusal = nullptr);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&&) = delete;
  InstanceLock(const InstanceLock&) = delete;
  ~InstanceLock();

 private:
  explicit InstanceLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace vellumora
