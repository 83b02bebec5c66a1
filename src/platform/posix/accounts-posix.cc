// Accounts on Linux: useradd/usermod for the service's own account, and an execute check in a
// child process that has become the account.
#include <grp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/account-access.h"
#include "platform/accounts.h"

extern char** environ;

namespace vellumora {

namespace {

bool GroupExists(const std::string& name) {
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(16384);
  return ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
         found != nullptr;
}

// Runs `argv` (an absolute program) and waits; its exit status, or -1 when it did not run.
int Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool RunningAsRoot() {
  return ::geteuid() == 0;
}

bool EnsureServiceAccount(const std::string& name, const std::string& group,
                          const std::string& home, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!RunningAsRoot()) return fail("making the account " + name + " needs root");
  if (!GroupExists(group) && Run({"/usr/sbin/groupadd", "--system", group}) != 0)
    return fail("groupadd --system " + group + " failed");
  if (!LookUpAccount(name, nullptr)) {
    if (Run({"/usr/sbin/useradd", "--system", "--user-group", "--home-dir", home,
             "--no-create-home", "--shell", "/usr/sbin/nologin", "--comment",
             "Vellumora hot-folder printing", "--groups", group, name}) != 0)
      return fail("useradd --system " + name + " failed");
    return true;
  }
  if (Run({"/usr/sbin/usermod", "--append", "--groups", group, name}) != 0)
    return fail("usermod --append --groups " + group + " " + name + " failed");
  return true;
}

bool MayExecuteAs(const std::string& path, const std::string& user, std::string* error) {
  const std::string who = user.empty() ? "root" : user;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  // Looked up before the fork: the child only calls what is safe after fork in a process
  // that may have threads.
  AccountIds account;
  if (!user.empty()) {
    std::optional<AccountIds> found = LookUpAccount(user, error);
    if (!found) return false;
    account = std::move(*found);
    if (!RunningAsRoot() && account.uid != ::geteuid())
      return fail("checking what " + user + " may run needs root");
  }
  const std::vector<gid_t> groups(account.groups.begin(), account.groups.end());
  const pid_t pid = ::fork();
  if (pid < 0) return fail(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    if (!user.empty()) {
      if (::setgroups(groups.size(), groups.data()) != 0 ||
          ::setresgid(account.gid, account.gid, account.gid) != 0 ||
          ::setresuid(account.uid, account.uid, account.uid) != 0)
        ::_exit(2);
    }
    ::_exit(::access(path.c_str(), X_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return fail(std::string("waitpid: ") + std::strerror(errno));
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
    return fail("the check could not become the account " + who);
  return fail(path + " is not executable for the account " + who);
}

}  // namespace vellumora
