// Moving processed files into an archive, also onto another file system, and deleting them.
#include "platform/file-disposal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

TEST(MoveFileReplacing, WithinOneFileSystemReplacesTheTarget) {
  test::SandboxDir dir;
  fs::create_directory(dir.path() / "archive");
  test::WriteFileBytes(dir.path() / "a.pdf", "new");
  test::WriteFileBytes(dir.path() / "archive" / "a.pdf", "old");
  std::string error;
  ASSERT_TRUE(MoveFileReplacing((dir.path() / "a.pdf").string(),
                                (dir.path() / "archive" / "a.pdf").string(), &error))
      << error;
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "archive" / "a.pdf"), "new");
  EXPECT_FALSE(fs::exists(dir.path() / "a.pdf"));
}

// A folder on another file system than the sandbox: /dev/shm (tmpfs) where there is one.
class OtherFileSystem {
 public:
  OtherFileSystem() {
    char pattern[] = "/dev/shm/vellumora-test.XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~OtherFileSystem() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

dev_t DeviceOf(const fs::path& p) {
  struct stat st {};
  stat(p.c_str(), &st);
  return st.st_dev;
}

TEST(MoveFileReplacing, AcrossFileSystemsCopiesFlushesAndOnlyThenRemovesTheSource) {
  test::SandboxDir dir;
  OtherFileSystem other;
  if (other.path().empty() || DeviceOf(other.path()) == DeviceOf(dir.path()))
    GTEST_SKIP() << "no second file system at /dev/shm";
  const fs::path source = dir.path() / "scan \xE5\x86\x99.tif";
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  test::WriteFileBytes(source, bytes);
  chmod(source.c_str(), 0640);
  const auto mtime = fs::last_write_time(source);

  std::string error;
  const fs::path target = other.path() / "scan \xE5\x86\x99.tif";
  ASSERT_TRUE(MoveFileReplacing(source.string(), target.string(), &error)) << error;
  EXPECT_EQ(test::ReadFileBytes(target), bytes);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  EXPECT_EQ(fs::last_write_time(target), mtime);
  EXPECT_EQ(std::distance(fs::directory_iterator(other.path()), fs::directory_iterator()), 1)
      << "no temporary file left behind";

  // Into a folder that is not there: the source stays untouched, nothing is left behind.
  test::WriteFileBytes(source, "again");
  EXPECT_FALSE(
      MoveFileReplacing(source.string(), (other.path() / "missing" / "x").string(), &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test::ReadFileBytes(source), "again");
}

TEST(MoveFileReplacing, IntoAMissingFolderFailsAndKeepsTheSource) {
  test::SandboxDir dir;
  test::WriteFileBytes(dir.path() / "a.pdf", "data");
  std::string error;
  EXPECT_FALSE(MoveFileReplacing((dir.path() / "a.pdf").string(),
                                 (dir.path() / "no" / "a.pdf").string(), &error));
  EXPECT_NE(error.find("a.pdf"), std::string::npos) << error;
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "a.pdf"), "data");
}

TEST(MoveFileNoReplace, MovesOnlyWhereTheNameIsFree) {
  test::SandboxDir dir;
  fs::create_directory(dir.path() / "archive");
  const fs::path source = dir.path() / "a.pdf";
  const fs::path target = dir.path() / "archive" / "a.pdf";
  test::WriteFileBytes(source, "new");
  test::WriteFileBytes(target, "old");
  std::string error;
  EXPECT_EQ(MoveFileNoReplace(source.string(), target.string(), &error), MoveResult::kTargetExists);
  EXPECT_EQ(test::ReadFileBytes(source), "new");
  EXPECT_EQ(test::ReadFileBytes(target), "old");

  // A dangling link takes the name just as well: it is not followed, not replaced.
  fs::create_symlink(dir.path() / "nowhere", dir.path() / "archive" / "b.pdf");
  EXPECT_EQ(MoveFileNoReplace(source.string(), (dir.path() / "archive" / "b.pdf").string(), &error),
            MoveResult::kTargetExists);
  EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));

  ASSERT_EQ(MoveFileNoReplace(source.string(), (dir.path() / "archive" / "c.pdf").string(), &error),
            MoveResult::kMoved)
      << error;
  EXPECT_EQ(test::ReadFileBytes(dir.path() / "archive" / "c.pdf"), "new");
  EXPECT_FALSE(fs::exists(source));

  // Into a folder that is not there: a reason, and the source stays.
  test::WriteFileBytes(source, "again");
  EXPECT_EQ(MoveFileNoReplace(source.string(), (dir.path() / "no" / "a.pdf").string(), &error),
            MoveResult::kFailed);
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_NE(error.find("a.pdf"), std::string::npos) << error;
  EXPECT_EQ(test::ReadFileBytes(source), "again");
}

TEST(MoveFileNoReplace, AcrossFileSystemsCopiesAndNeverReplaces) {
  test::SandboxDir dir;
  OtherFileSystem other;
  if (other.path().empty() || DeviceOf(other.path()) == DeviceOf(dir.path()))
    GTEST_SKIP() << "no second file system at /dev/shm";
  const fs::path source = dir.path() / "scan.tif";
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 11);
  test::WriteFileBytes(source, bytes);
  chmod(source.c_str(), 0640);
  const auto mtime = fs::last_write_time(source);
  const fs::path target = other.path() / "scan.tif";
  auto leftovers = [&] {
    return std::distance(fs::directory_iterator(other.path()), fs::directory_iterator());
  };

  std::string error;
  test::WriteFileBytes(target, "old");
  EXPECT_EQ(MoveFileNoReplace(source.string(), target.string(), &error), MoveResult::kTargetExists);
  EXPECT_EQ(test::ReadFileBytes(target), "old");
  EXPECT_EQ(test::ReadFileBytes(source), bytes);
  EXPECT_EQ(leftovers(), 1) << "no temporary file left behind";

  fs::remove(target);
  ASSERT_EQ(MoveFileNoReplace(source.string(), target.string(), &error), MoveResult::kMoved)
      << error;
  EXPECT_EQ(test::ReadFileBytes(target), bytes);
  EXPECT_FALSE(fs::exists(source));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  EXPECT_EQ(fs::last_write_time(target), mtime);
  EXPECT_EQ(leftovers(), 1) << "no temporary file left behind";
}

// Sets or clears the immutable flag of a folder: even root cannot remove files from it then.
bool SetImmutable(const fs::path& folder, bool on) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
  ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  close(fd);
  return ok;
}

TEST(MoveFileNoReplace, ASourceThatStaysIsNotArchivedTwice) {
  test::SandboxDir dir;
  OtherFileSystem other;
  if (other.path().empty() || DeviceOf(other.path()) == DeviceOf(dir.path()))
    GTEST_SKIP() << "no second file system at /dev/shm";
  const fs::path sealed = dir.path() / "sealed";
  fs::create_directory(sealed);
  test::WriteFileBytes(sealed / "kept.tif", "data");
  if (!SetImmutable(sealed, true)) GTEST_SKIP() << "the file system has no immutable folders";
  std::string error;
  const MoveResult result = MoveFileNoReplace((sealed / "kept.tif").string(),
                                              (other.path() / "kept.tif").string(), &error);
  SetImmutable(sealed, false);
  // The copy is taken back and the source stays, so a retry finds the name free again.
  EXPECT_EQ(result, MoveResult::kFailed);
  EXPECT_NE(error.find("cannot remove " + (sealed / "kept.tif").string()), std::string::npos)
      << error;
  EXPECT_EQ(test::ReadFileBytes(sealed / "kept.tif"), "data");
  EXPECT_FALSE(fs::exists(other.path() / "kept.tif"));
}

TEST(RemoveFile, TrueOnceTheFileIsGone) {
  test::SandboxDir dir;
  test::WriteFileBytes(dir.path() / "a.pdf", "data");
  EXPECT_TRUE(RemoveFile((dir.path() / "a.pdf").string()));
  EXPECT_FALSE(fs::exists(dir.path() / "a.pdf"));
  EXPECT_TRUE(RemoveFile((dir.path() / "a.pdf").string())) << "already gone";
  fs::create_directory(dir.path() / "sub");
  EXPECT_FALSE(RemoveFile((dir.path() / "sub").string()));
}

}  // namespace
}  // namespace vellumora
