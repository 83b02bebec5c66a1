// System accounts for the service: making the service's own, and what a given account may
// execute.
#pragma once

#include <string>

namespace vellumora {

// Whether this process runs as root (and so may act for other accounts).
bool RunningAsRoot();

// Makes the system account `name` with a group of its own, no login shell and `home` as its
// home folder (not created), and adds it to the supplementary group `group` (made as a
// system group when missing). An account that exists already is only added to the group.
// Needs root; false with the reason in *error.
bool EnsureServiceAccount(const std::string& name, const std::string& group,
                          const std::string& home, std::string* error);

// Whether `user` (empty: root) may execute `path`, decided by the kernel itself: a child
// process takes the account's user, group and supplementary groups and asks. Needs root for
// another account; false with the reason in *error ("... is not executable for USER").
bool MayExecuteAs(const std::string& path, const std::string& user, std::string* error);

}  // namespace vellumora
