// Accounts on Linux: passwd look-ups, useradd/usermod for the service's own account, and an
// execute check in a child process that has become the account.
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/accounts.h"

extern char** environ;

namespace vellumora {

namespace {

bool LookUp(const std::string& name, passwd* out, std::vector<char>* buffer) {
  buffer->assign(16384, 0);
  passwd* found = nullptr;
  return ::getpwnam_r(name.c_str(), out, buffer->data(), buffer->size(), &found) == 0 &&
         found != nullptr;
}

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

bool AccountExists(const std::string& name, unsigned* uid, unsigned* gid) {
  passwd entry{};
  std::vector<char> buffer;
  if (name.empty() || !LookUp(name, &entry, &buffer)) return false;
  if (uid) *uid = entry.pw_uid;
  if (gid) *gid = entry.pw_gid;
  return true;
}

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
  if (!AccountExists(name)) {
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
  passwd entry{};
  std::vector<char> buffer;
  if (!user.empty() && !LookUp(user, &entry, &buffer)) return fail("there is no account " + user);
  if (!user.empty() && !RunningAsRoot() && entry.pw_uid != ::geteuid())
    return fail("checking what " + user + " may run needs root");
  // Looked up before the fork: the child only calls what is safe after fork in a process
  // that may have threads.
  std::vector<gid_t> groups(256);
  int count = static_cast<int>(groups.size());
  if (!user.empty() && ::getgrouplist(user.c_str(), entry.pw_gid, groups.data(), &count) < 0)
    return fail("the groups of " + user + " cannot be read");
  const pid_t pid = ::fork();
  if (pid < 0) return fail(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    if (!user.empty()) {
      if (::setgroups(static_cast<size_t>(count), groups.data()) != 0 ||
          ::setresgid(entry.pw_gid, entry.pw_gid, entry.pw_gid) != 0 ||
          ::setresuid(entry.pw_uid, entry.pw_uid, entry.pw_uid) != 0)
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
