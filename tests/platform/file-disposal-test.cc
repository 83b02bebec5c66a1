// Moving processed files into an archive, also onto another file system, and deleting them.
#include "platform/file-disposal.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

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
