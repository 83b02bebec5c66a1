// TestFolderAccess: the folder must exist and take a new file.
#include <sys/stat.h>

#include <filesystem>

#include "scan-fixture.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using FolderAccessTest = test::ScanFixture;

TEST_F(FolderAccessTest, ResultsAndTheirLines) {
  const fs::path ok = Folder("ok");
  const fs::path missing = sandbox.path() / "missing";
  const fs::path readOnly = Folder("read-only");
  ASSERT_EQ(chmod(readOnly.c_str(), 0555), 0);

  EXPECT_EQ(kernel->TestFolderAccess(ok.string() + "/", false), 2);
  EXPECT_EQ(kernel->TestFolderAccess(ok.string(), true), 2);
  EXPECT_EQ(kernel->TestFolderAccess(missing.string() + "/", true), 0);
  // A folder without any write permission is read-only for us even as root.
  EXPECT_EQ(kernel->TestFolderAccess(readOnly.string(), true), 1);
  EXPECT_EQ(messages,
            (std::vector<std::string>{
                "OK:    Full access to folder " + ok.string() + " verified",
                "ERROR: Folder " + missing.string() + " can't be found any more",
                "ERROR: Access privilege to folder " + readOnly.string() + " insufficient"}));
  EXPECT_TRUE(fs::is_empty(ok)) << "the test file is removed again";
  chmod(readOnly.c_str(), 0755);
}

TEST_F(FolderAccessTest, APlantedLinkIsNotFollowed) {
  const fs::path folder = Folder("in");
  const fs::path victim = sandbox.path() / "victim";
  test::WriteFileBytes(victim, "precious");
  fs::create_symlink(victim, folder / "test2205.tmp");
  // The report creates the test file: the link is refused, not written through.
  EXPECT_EQ(kernel->TestFolderAccess(folder.string(), false), 1);
  // The scan's check touches no file at all on a local disk.
  EXPECT_EQ(kernel->TestFolderAccess(folder.string(), true), 2);
  EXPECT_EQ(test::ReadFileBytes(victim), "precious");
}

TEST_F(FolderAccessTest, TheRootKeepsItsSlash) {
  kernel->TestFolderAccess("/no-such-folder-2205/", true);
  kernel->TestFolderAccess("", true);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"ERROR: Folder /no-such-folder-2205 can't be found any more",
                                      "ERROR: Folder  can't be found any more"}));
}

}  // namespace
}  // namespace vellumora
