// Folder watching on the machine's own file system: what makes a folder found empty count as
// touched again, and folders whose changes cannot be seen.
#include "platform/folder-watch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

// What a scan's check finds of `folder` now, and which directory it names.
FolderCheck Check(const fs::path& folder) {
  return CheckInputFolder(folder.string(), (folder / "probe.tmp").string());
}
FolderIdentity Id(const fs::path& folder) {
  return Check(folder).identity;
}

TEST(FolderWatchTest, AnythingThatHappensInTheFolderEndsItsQuiet) {
  test::SandboxDir dir;
  struct Case {
    const char* what;
    std::function<void(const fs::path& in)> act;
  };
  const Case cases[] = {
      {"a file created", [](const fs::path& in) { std::ofstream(in / "a.pdf") << "x"; }},
      {"a file written",
       [](const fs::path& in) { std::ofstream(in / "old.txt", std::ios::app) << "more"; }},
      {"a file moved in",
       [&](const fs::path& in) { fs::rename(dir.path() / "outside.pdf", in / "b.pdf"); }},
      {"the folder's permissions changed",
       [](const fs::path& in) { fs::permissions(in, fs::perms::owner_all); }},
      {"the folder moved away", [](const fs::path& in) { fs::rename(in, in.string() + "-old"); }},
      {"the folder removed", [](const fs::path& in) { fs::remove_all(in); }},
      {"its parent renamed and the folder made anew",
       [&](const fs::path& in) {
         fs::rename(dir.path() / "parent", dir.path() / "parent-old");
         fs::create_directories(in);
       }},
  };
  FolderWatch watch;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path in = dir.path() / "parent" / "in";
    fs::remove_all(dir.path() / "parent");
    fs::remove_all(dir.path() / "parent-old");
    fs::remove_all(in.string() + "-old");
    fs::create_directories(in);
    std::ofstream(in / "old.txt") << "old";
    std::ofstream(dir.path() / "outside.pdf") << "x";
    const FolderIdentity before = Id(in);
    ASSERT_TRUE(watch.Arm(in.string(), Check(in)));
    EXPECT_TRUE(watch.Quiet(in.string(), before));
    EXPECT_TRUE(watch.Quiet(in.string(), before)) << "asking twice changes nothing";
    c.act(in);
    const FolderIdentity now = fs::exists(in) ? Id(in) : FolderIdentity{};
    EXPECT_FALSE(watch.Quiet(in.string(), now));
    EXPECT_FALSE(watch.Quiet(in.string(), now)) << "stays touched until armed again";
  }
}

TEST(FolderWatchTest, LostEventsAndUnwatchableFoldersAreNeverQuiet) {
  test::SandboxDir dir;
  const fs::path busy = dir.path() / "busy", idle = dir.path() / "idle";
  fs::create_directories(busy);
  fs::create_directories(idle);
  FolderWatch watch;
  ASSERT_TRUE(watch.Arm(busy.string(), Check(busy)));
  ASSERT_TRUE(watch.Arm(idle.string(), Check(idle)));
  // More events than the kernel queues (alternating files, so none is merged with the one
  // before): the lost ones could have been the idle folder's.
  long queued = 16384;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queued;
  {
    std::ofstream a(busy / "a"), b(busy / "b");
    for (long i = 0; i <= queued; ++i) {
      (i % 2 ? a : b) << 'x' << std::flush;
    }
  }
  EXPECT_FALSE(watch.Quiet(idle.string(), Id(idle)));

  // Never armed, forgotten, or where changes raise no event (here: /proc).
  EXPECT_FALSE(watch.Quiet((dir.path() / "never").string(), Id(dir.path())));
  ASSERT_TRUE(watch.Arm(idle.string(), Check(idle)));
  watch.Forget(idle.string());
  EXPECT_FALSE(watch.Quiet(idle.string(), Id(idle)));
  EXPECT_FALSE(watch.Arm("/proc/self", Check("/proc/self")));
  EXPECT_FALSE(watch.Quiet("/proc/self", Id("/proc/self")));
}

}  // namespace
}  // namespace vellumora
