// The sweep of a crashed run's leftovers: exactly the names this program makes, older than the
// process, never through a link, never a file that is still open.
#include "platform/leftovers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "platform/files.h"
#include "platform/incoming-file.h"
#include "support/sandbox-dir.h"
#include "writer-process.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

constexpr char kPrefix[] = ".vellumora-upload-";

// Sets the time stamps of `path` itself (a link is not followed) to an hour ago.
void MakeOld(const fs::path& path) {
  struct timespec times[2]{};
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Every path below `folder`, links not followed.
std::set<fs::path> Tree(const fs::path& folder) {
  std::set<fs::path> paths;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it)
    paths.insert(it->path());
  return paths;
}

class LeftoversTest : public ::testing::Test {
 protected:
  void File(const fs::path& path, bool old = true) {
    test::WriteFileBytes(path, "left over");
    if (old) MakeOld(path);
  }
  // A render folder as a crashed PDF render leaves it: page files, the folder older than us.
  void RenderFolder(const fs::path& path, int pages = 2) {
    fs::create_directory(path);
    for (int i = 1; i <= pages; ++i) File(path / ("pdftemp" + std::to_string(i) + ".tif"));
    MakeOld(path);
  }

  test::SandboxDir dir;
  fs::path in = dir.path() / "in";
  fs::path temp = dir.path() / "Temp";
  fs::path victim = dir.path() / "victim";
};

TEST_F(LeftoversTest, UnfinishedUploadsGoAndEverythingElseStays) {
  fs::create_directory(in);
  fs::create_directory(victim);
  File(victim / "precious");
  // What IncomingFile made and a crash left: the prefix and its twelve random letters.
  IncomingFile made = IncomingFile::Create(in.string(), kPrefix, nullptr);
  ASSERT_TRUE(made.valid());
  std::vector<std::string> gone;
  for (const auto& e : fs::directory_iterator(in)) gone.push_back(e.path().filename().string());
  ASSERT_EQ(gone.size(), 1u);
  ASSERT_TRUE(IncomingFile::IsHiddenName(gone[0], kPrefix));
  made = IncomingFile();  // its own clean-up would remove it; plant it again as a crash leaves it
  File(in / gone[0]);
  File(in / ".vellumora-upload-0123456789ab");

  struct Stays {
    const char* name;
    std::function<void(const fs::path&)> plant;
  };
  const Stays stays[] = {
      {".vellumora-upload-notes.txt", [&](const fs::path& p) { File(p); }},
      {".vellumora-upload-ABCDEFGHIJKL", [&](const fs::path& p) { File(p); }},   // not our letters
      {".vellumora-upload-abcdefghijk", [&](const fs::path& p) { File(p); }},    // one short
      {".vellumora-upload-abcdefghijklm", [&](const fs::path& p) { File(p); }},  // one more
      {"vellumora-upload-abcdefghijkl", [&](const fs::path& p) { File(p); }},    // not hidden
      {"photo.jpg", [&](const fs::path& p) { File(p); }},
      {".vellumora-upload-freshfreshfr", [&](const fs::path& p) { File(p, false); }},
      {".vellumora-upload-linklinklink",
       [&](const fs::path& p) {
         fs::create_symlink(victim / "precious", p);
         MakeOld(p);
       }},
      {".vellumora-upload-folderfolder",
       [&](const fs::path& p) {
         fs::create_directory(p);
         MakeOld(p);
       }},
      {".vellumora-upload-fifofifofifo",
       [&](const fs::path& p) {
         ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
         MakeOld(p);
       }},
  };
  for (const Stays& s : stays) s.plant(in / s.name);
  // An upload that another process still writes.
  File(in / ".vellumora-upload-stillwriting");
  test::WriterProcess writer((in / ".vellumora-upload-stillwriting").string());
  ASSERT_TRUE(writer.opened());

  std::set<fs::path> staying = Tree(in);
  staying.erase(in / gone[0]);
  staying.erase(in / ".vellumora-upload-0123456789ab");
  EXPECT_EQ(RemoveUnfinishedIncomingFiles(in.string(), kPrefix, ProcessStartTimeNs()), 2);
  EXPECT_EQ(Tree(in), staying);
  EXPECT_EQ(test::ReadFileBytes(victim / "precious"), "left over");

  // Once its writer let go, it goes too; a folder that is not there is no failure.
  writer.Close();
  EXPECT_EQ(RemoveUnfinishedIncomingFiles(in.string(), kPrefix, ProcessStartTimeNs()), 1);
  EXPECT_EQ(
      RemoveUnfinishedIncomingFiles((dir.path() / "none").string(), kPrefix, ProcessStartTimeNs()),
      0);
}

TEST_F(LeftoversTest, RenderFoldersGoWithTheirPagesAndEverythingElseStays) {
  fs::create_directory(temp);
  fs::create_directory(victim);
  File(victim / "precious");
  // What MakePrivateFolder made and a crashed render left.
  std::string error;
  const fs::path made = MakePrivateFolder(temp.string(), &error);
  ASSERT_FALSE(made.empty()) << error;
  ASSERT_TRUE(IsPrivateFolderName(made.filename().string()));
  for (int i = 1; i <= 3; ++i) File(made / ("pdftemp" + std::to_string(i) + ".tif"));
  MakeOld(made);
  RenderFolder(temp / "vellumora-AbC123", 0);  // empty

  struct Stays {
    const char* name;
    std::function<void(const fs::path&)> plant;
  };
  const Stays stays[] = {
      {"vellumora-old", [&](const fs::path& p) { RenderFolder(p); }},
      {"vellumora-AbC12", [&](const fs::path& p) { RenderFolder(p); }},
      {"vellumora-AbC1234", [&](const fs::path& p) { RenderFolder(p); }},
      {"vellumora-Ab-123", [&](const fs::path& p) { RenderFolder(p); }},
      {"Vellumora-AbC123", [&](const fs::path& p) { RenderFolder(p); }},
      {"vellumora-regfil", [&](const fs::path& p) { File(p); }},
      {"vellumora-linked",
       [&](const fs::path& p) {
         fs::create_directory_symlink(victim, p);
         MakeOld(p);
       }},
      {"vellumora-fresh1",
       [&](const fs::path& p) {
         fs::create_directory(p);
         File(p / "pdftemp1.tif");
       }},
      {"vellumora-newpg1",  // an old folder with a page written since the process started
       [&](const fs::path& p) {
         fs::create_directory(p);
         File(p / "pdftemp1.tif", false);
         MakeOld(p);
       }},
      {"vellumora-nested",
       [&](const fs::path& p) {
         fs::create_directories(p / "sub");
         File(p / "pdftemp1.tif");
         MakeOld(p / "sub");
         MakeOld(p);
       }},
      {"vellumora-linkin",
       [&](const fs::path& p) {
         fs::create_directory(p);
         File(p / "pdftemp1.tif");
         fs::create_symlink(victim / "precious", p / "pdftemp2.tif");
         MakeOld(p / "pdftemp2.tif");
         MakeOld(p);
       }},
  };
  for (const Stays& s : stays) s.plant(temp / s.name);
  // A render folder whose page another process has open.
  RenderFolder(temp / "vellumora-opened");
  auto writer =
      std::make_unique<test::WriterProcess>((temp / "vellumora-opened/pdftemp1.tif").string());
  ASSERT_TRUE(writer->opened());

  MakeOld(victim);  // what the link leads to looks like a leftover itself
  std::set<fs::path> staying;
  for (const fs::path& p : Tree(temp))
    if (p.parent_path() != made && p != made && p != temp / "vellumora-AbC123") staying.insert(p);
  EXPECT_EQ(RemoveAbandonedPrivateFolders(temp.string(), ProcessStartTimeNs()), 2);
  // The two leftovers went whole; of everything else not one entry went.
  EXPECT_EQ(Tree(temp), staying);
  EXPECT_EQ(test::ReadFileBytes(victim / "precious"), "left over");

  writer.reset();
  EXPECT_EQ(RemoveAbandonedPrivateFolders(temp.string(), ProcessStartTimeNs()), 1);
  EXPECT_FALSE(fs::exists(temp / "vellumora-opened"));
}

}  // namespace
}  // namespace vellumora
