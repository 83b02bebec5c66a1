// A throw-away system account for one test, made with useradd and removed afterwards, and
// commands run as that account through setpriv: what the account can really do.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace vellumora::test {

class TestAccount {
 public:
  // Makes the account (its own primary group too) and, with `extraGroup`, a second throw-away
  // group it belongs to. Needs root; usable() says whether it worked and skipReason() why not.
  explicit TestAccount(bool extraGroup = false);
  ~TestAccount();
  TestAccount(const TestAccount&) = delete;
  TestAccount& operator=(const TestAccount&) = delete;

  bool usable() const { return uid_ != 0; }
  const std::string& skipReason() const { return skipReason_; }
  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  gid_t gid() const { return gid_; }
  // The supplementary group (empty / 0 without one).
  const std::string& groupName() const { return group_; }
  gid_t groupId() const { return groupId_; }

  // Runs `argv` as the account with its groups (setpriv --reuid --regid --init-groups); the
  // exit status, or -1 when it did not exit normally.
  int Run(const std::vector<std::string>& argv) const;
  // The account enters `folder`, lists it, and creates and deletes a file in it.
  bool CanUseFolder(const std::filesystem::path& folder) const;
  // The account reads `file`.
  bool CanRead(const std::filesystem::path& file) const;

 private:
  std::string name_, group_, skipReason_;
  uid_t uid_ = 0;
  gid_t gid_ = 0, groupId_ = 0;
};

// Runs `argv` (searched in PATH) with its output dropped; the exit status, or -1.
int RunQuietly(const std::vector<std::string>& argv);

}  // namespace vellumora::test
