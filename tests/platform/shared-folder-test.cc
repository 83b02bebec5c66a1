// The data folder shared with the print administrators' group.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/paths.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

struct stat Lstat(const fs::path& p) {
  struct stat st {};
  lstat(p.c_str(), &st);
  return st;
}

TEST(SharedDataFolder, GroupAndModesWithoutFollowingLinks) {
  if (geteuid() != 0) GTEST_SKIP() << "only root shares the folder";
  const struct group* g = getgrnam("lpadmin");
  if (g == nullptr) GTEST_SKIP() << "no group lpadmin here";
  const gid_t lpadmin = g->gr_gid;

  test::SandboxDir dir;
  const fs::path data = dir.path() / "Vellumora";
  test::WriteFileBytes(dir.path() / "elsewhere", "x");
  chmod((dir.path() / "elsewhere").c_str(), 0600);
  fs::create_directories(data);
  test::WriteFileBytes(data / "Vellumora.ini", "[Main]\n");
  chmod((data / "Vellumora.ini").c_str(), 0600);
  fs::create_symlink(dir.path() / "elsewhere", data / "Vellumora.vch");
  // A hard link planted under a shared name: its other name may be anything (/etc/shadow).
  test::WriteFileBytes(dir.path() / "linked", "x");
  chmod((dir.path() / "linked").c_str(), 0600);
  fs::create_hard_link(dir.path() / "linked", data / "Vellumora.ledger");

  std::string error;
  ASSERT_TRUE(ShareDataFolder(data.string(), "lpadmin",
                              {"Vellumora.ini", "Vellumora.vch", "Vellumora.ledger", "missing.lst"},
                              &error))
      << error;
  for (const fs::path& folder : {data, data / "Temp"}) {
    struct stat st = Lstat(folder);
    EXPECT_EQ(st.st_mode & 07777, 02775u) << folder;
    EXPECT_EQ(st.st_gid, lpadmin) << folder;
  }
  struct stat ini = Lstat(data / "Vellumora.ini");
  EXPECT_EQ(ini.st_mode & 07777, 0664u);
  EXPECT_EQ(ini.st_gid, lpadmin);
  // The link planted in a settings file's place is not followed.
  struct stat target = Lstat(dir.path() / "elsewhere");
  EXPECT_EQ(target.st_mode & 07777, 0600u);
  EXPECT_NE(target.st_gid, lpadmin);
  struct stat linked = Lstat(dir.path() / "linked");
  EXPECT_EQ(linked.st_mode & 07777, 0600u);
  EXPECT_NE(linked.st_gid, lpadmin);

  // Someone else's folder is left alone.
  const fs::path other = dir.path() / "other";
  fs::create_directories(other);
  chown(other.c_str(), 65534, 65534);
  chmod(other.c_str(), 0700);
  EXPECT_TRUE(ShareDataFolder(other.string(), "lpadmin", {}, &error));
  EXPECT_EQ(Lstat(other).st_mode & 07777, 0700u);
  EXPECT_FALSE(fs::exists(other / "Temp"));
}

// The service's account owns its files but may not change groups: what is its own and in the
// group becomes group-writable, nothing else changes, and a new log line is group-writable
// whatever the umask.
TEST(SharedDataFolder, AnAccountSharesOnlyItsOwnFilesOfTheGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become another account";
  const struct group* g = getgrnam("lpadmin");
  if (g == nullptr) GTEST_SKIP() << "no group lpadmin here";
  const gid_t lpadmin = g->gr_gid;
  constexpr uid_t kAccount = 65534;

  test::SandboxDir dir;
  chmod(dir.path().c_str(), 0755);
  const fs::path data = dir.path() / "Vellumora";
  fs::create_directories(data / "Temp");
  struct Planted {
    const char* name;
    uid_t owner;
    gid_t group;
    mode_t after;  // the mode the account's sharing leaves
  } files[] = {
      {"Vellumora.log", kAccount, lpadmin, 0664},      // made by an earlier start, umask 022
      {"Vellumora.ledger", kAccount, kAccount, 0644},  // not the group's: stays
      {"Vellumora.ini", 0, lpadmin, 0644},             // root's: not ours to change
  };
  for (const Planted& f : files) {
    test::WriteFileBytes(data / f.name, "x");
    chown((data / f.name).c_str(), f.owner, f.group);
    chmod((data / f.name).c_str(), 0644);
  }
  for (const fs::path& folder : {data, data / "Temp"}) {
    chown(folder.c_str(), kAccount, lpadmin);
    chmod(folder.c_str(), 02775);
  }

  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const gid_t groups[] = {lpadmin};
    if (setgroups(1, groups) != 0 || setresgid(kAccount, kAccount, kAccount) != 0 ||
        setresuid(kAccount, kAccount, kAccount) != 0)
      _exit(2);
    umask(022);
    std::string error;
    const bool shared = ShareDataFolder(
        data.string(), "lpadmin", {"Vellumora.log", "Vellumora.ledger", "Vellumora.ini"}, &error);
    const bool appended = AppendToFile((data / "new.log").string(), "line", 0664);
    _exit(shared && appended ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (const Planted& f : files) EXPECT_EQ(Lstat(data / f.name).st_mode & 07777, f.after) << f.name;
  struct stat added = Lstat(data / "new.log");
  EXPECT_EQ(added.st_mode & 07777, 0664u);
  EXPECT_EQ(added.st_gid, lpadmin) << "the set-group-ID folder gives its group";
  EXPECT_EQ(Lstat(data).st_mode & 07777, 02775u);
}

}  // namespace
}  // namespace vellumora
