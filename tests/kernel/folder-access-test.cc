// TestFolderAccess: the folder must exist and take a new file.
#include <sys/stat.h>

#include <filesystem>
#include <functional>

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

TEST_F(FolderAccessTest, WhateverHasTheTestFilesNameIsLeftAsItIs) {
  const fs::path folder = Folder("in");
  const fs::path victim = sandbox.path() / "victim";
  const fs::path testFile = folder / "test2205.tmp";
  test::WriteFileBytes(victim, "precious");
  struct Case {
    const char* what;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"link to a file", [&] { fs::create_symlink(victim, testFile); }},
      {"dangling link", [&] { fs::create_symlink(sandbox.path() / "nothing", testFile); }},
      {"someone's file", [&] { test::WriteFileBytes(testFile, "kept"); }},
      {"FIFO", [&] { ASSERT_EQ(mkfifo(testFile.c_str(), 0644), 0); }},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    std::error_code ec;
    fs::remove(testFile, ec);
    tc.plant();
    const auto before = fs::symlink_status(testFile).type();
    // The report creates a file of its own beside the planted entry; the scan's check touches
    // no file at all on a local disk.
    EXPECT_EQ(kernel->TestFolderAccess(folder.string(), false), 2);
    EXPECT_EQ(kernel->TestFolderAccess(folder.string(), true), 2);
    EXPECT_EQ(fs::symlink_status(testFile).type(), before);
    if (before == fs::file_type::regular) {
      EXPECT_EQ(test::ReadFileBytes(testFile), "kept");
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1)
        << "only the planted entry is left";
  }
  EXPECT_EQ(test::ReadFileBytes(victim), "precious");
  EXPECT_FALSE(fs::exists(sandbox.path() / "nothing"));
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
