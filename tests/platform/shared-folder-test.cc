// The data folder shared with the print administrators' group.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

  std::string error;
  ASSERT_TRUE(ShareDataFolder(data.string(), "lpadmin",
                              {"Vellumora.ini", "Vellumora.vch", "missing.lst"}, &error))
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

  // Someone else's folder is left alone.
  const fs::path other = dir.path() / "other";
  fs::create_directories(other);
  chown(other.c_str(), 65534, 65534);
  chmod(other.c_str(), 0700);
  EXPECT_TRUE(ShareDataFolder(other.string(), "lpadmin", {}, &error));
  EXPECT_EQ(Lstat(other).st_mode & 07777, 0700u);
  EXPECT_FALSE(fs::exists(other / "Temp"));
}

}  // namespace
}  // namespace vellumora
