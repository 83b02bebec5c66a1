// The single-instance lock and the private runtime folder it lives in.
#include "platform/instance-lock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "platform/paths.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

class InstanceLockTest : public ::testing::Test {
 protected:
  InstanceLockTest() { fs::create_directory(folder, ec); }
  std::string File() const { return (folder / "Vellumora.MUTEX").string(); }
  test::SandboxDir dir;
  fs::path folder = dir.path() / "run";
  std::error_code ec;
};

TEST_F(InstanceLockTest, OneHolderAtATimeAndTheOtherLearnsWhere) {
  chmod(folder.c_str(), 0700);
  LockRefusal refusal;
  auto first = InstanceLock::TryAcquireIn(folder.string(), "Vellumora.MUTEX", &refusal);
  ASSERT_TRUE(first) << refusal.reason;
  struct stat st {};
  ASSERT_EQ(lstat(File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 077, 0u);

  EXPECT_FALSE(InstanceLock::TryAcquireIn(folder.string(), "Vellumora.MUTEX", &refusal));
  EXPECT_TRUE(refusal.heldElsewhere);
  EXPECT_EQ(refusal.path, File());
  EXPECT_EQ(refusal.reason, "lock " + File() + " is held");

  first.reset();
  EXPECT_TRUE(InstanceLock::TryAcquireIn(folder.string(), "Vellumora.MUTEX"));
}

TEST_F(InstanceLockTest, PlantedOrForeignLockFilesAreRefused) {
  const fs::path victim = dir.path() / "victim";
  struct Case {
    const char* what;
    std::function<void()> plant;
    std::string reason;
  };
  const Case cases[] = {
      {"link", [&] { fs::create_symlink(victim, File()); }, File() + " is a symbolic link"},
      {"another user's file",
       [&] {
         test::WriteFileBytes(File(), "");
         ASSERT_EQ(chown(File().c_str(), kNobody, kNobody), 0);
       },
       File() + " belongs to user 65534, not to us"},
      {"FIFO", [&] { ASSERT_EQ(mkfifo(File().c_str(), 0600), 0); },
       File() + " is not a regular file"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    fs::remove(File(), ec);
    tc.plant();
    LockRefusal refusal;
    EXPECT_FALSE(InstanceLock::TryAcquireIn(folder.string(), "Vellumora.MUTEX", &refusal));
    EXPECT_FALSE(refusal.heldElsewhere);
    EXPECT_EQ(refusal.reason, tc.reason);
  }
  EXPECT_FALSE(fs::exists(victim));  // the link was not followed to create its target
}

TEST_F(InstanceLockTest, FolderMustBeOursAndWritableByNobodyElse) {
  const fs::path elsewhere = dir.path() / "elsewhere";
  fs::create_directory(elsewhere);
  struct Case {
    const char* what;
    std::function<void()> make;
    std::string reason;
  };
  const Case cases[] = {
      {"group-writable", [&] { fs::permissions(folder, fs::perms(0775)); },
       " may be written to by others"},
      {"world-writable with sticky bit", [&] { fs::permissions(folder, fs::perms(01777)); },
       " may be written to by others"},
      {"another user's", [&] { ASSERT_EQ(chown(folder.c_str(), kNobody, kNobody), 0); },
       " belongs to user 65534, not to us"},
      {"a link to a good folder",
       [&] {
         fs::remove_all(folder);
         fs::create_directory_symlink(elsewhere, folder);
       },
       " is a symbolic link"},
      {"a file",
       [&] {
         fs::remove_all(folder);
         test::WriteFileBytes(folder, "");
       },
       " is not a folder"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    fs::remove_all(folder, ec);
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms(0755));
    tc.make();
    LockRefusal refusal;
    EXPECT_FALSE(InstanceLock::TryAcquireIn(folder.string(), "Vellumora.MUTEX", &refusal));
    EXPECT_EQ(refusal.reason, folder.string() + tc.reason);
    std::string error;
    EXPECT_FALSE(EnsurePrivateFolder(folder.string(), 0755, &error));
    EXPECT_EQ(error, folder.string() + tc.reason);
  }
  EXPECT_FALSE(fs::exists(elsewhere / "Vellumora.MUTEX"));

  // A missing folder is made with the mode asked for.
  fs::remove_all(folder);
  std::string error;
  ASSERT_TRUE(EnsurePrivateFolder(folder.string(), 0755, &error)) << error;
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0755));
}

TEST_F(InstanceLockTest, RuntimeFolderIsTheUsersOwnWhenItIsFitForIt) {
  const char* saved = getenv("XDG_RUNTIME_DIR");
  const std::string keep = saved ? saved : "";
  fs::permissions(folder, fs::perms(0700));
  setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
  std::string error;
  auto found = RuntimeFolder(&error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(*found, folder);
  if (saved)
    setenv("XDG_RUNTIME_DIR", keep.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace vellumora
