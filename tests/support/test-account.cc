// Throw-away accounts for the tests that must see what another account may really do.
#include "support/test-account.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vellumora::test {

namespace {

std::atomic<int> counter{0};

// useradd and groupadd refuse while another one holds the lock on /etc/passwd (tests run in
// parallel): a few tries.
int RunLocked(const std::vector<std::string>& argv) {
  int status = -1;
  for (int attempt = 0; attempt < 50; ++attempt) {
    status = RunQuietly(argv);
    if (status == 0 || (status != 10 && status != 1)) return status;  // 10: cannot lock files
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return status;
}

}  // namespace

int RunQuietly(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TestAccount::TestAccount(bool extraGroup) {
  if (geteuid() != 0) {
    skipReason_ = "making a throw-away account needs root";
    return;
  }
  const std::string stem = "vlmt" + std::to_string(getpid()) + "x" + std::to_string(++counter);
  if (extraGroup) {
    group_ = stem + "g";
    if (RunLocked({"groupadd", "--system", group_}) != 0) {
      skipReason_ = "groupadd " + group_ + " failed";
      group_.clear();
      return;
    }
    if (const struct group* g = getgrnam(group_.c_str())) groupId_ = g->gr_gid;
  }
  std::vector<std::string> add = {"useradd",      "--system", "--no-create-home",  "--home-dir",
                                  "/nonexistent", "--shell",  "/usr/sbin/nologin", "--user-group"};
  if (extraGroup) add.insert(add.end(), {"--groups", group_});
  add.push_back(stem);
  if (RunLocked(add) != 0) {
    skipReason_ = "useradd " + stem + " failed";
    return;
  }
  name_ = stem;
  if (const struct passwd* pw = getpwnam(name_.c_str())) {
    uid_ = pw->pw_uid;
    gid_ = pw->pw_gid;
  }
  if (uid_ == 0) skipReason_ = "the account " + name_ + " cannot be looked up";
}

TestAccount::~TestAccount() {
  if (!name_.empty()) RunLocked({"userdel", name_});
  // userdel removes the account's own group; the extra one is ours to remove.
  if (!group_.empty()) RunLocked({"groupdel", group_});
}

int TestAccount::Run(const std::vector<std::string>& argv) const {
  std::vector<std::string> all = {"setpriv", "--reuid=" + std::to_string(uid_),
                                  "--regid=" + std::to_string(gid_), "--init-groups", "--"};
  all.insert(all.end(), argv.begin(), argv.end());
  return RunQuietly(all);
}

bool TestAccount::CanUseFolder(const std::filesystem::path& folder) const {
  return Run({"/bin/sh", "-c", "cd -- \"$1\" && ls -a . && : > ./.probe-$$ && rm ./.probe-$$", "sh",
              folder.string()}) == 0;
}

bool TestAccount::CanRead(const std::filesystem::path& file) const {
  return Run({"/bin/cat", "--", file.string()}) == 0;
}

}  // namespace vellumora::test
