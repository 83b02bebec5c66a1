// The completeness test of input files: the write-lease probe and the settle-time fallback.
#include "platform/file-completeness.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/writer-process.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

TEST(ProbeForWriting, TellsWhoHasTheFile) {
  test::SandboxDir dir;
  const fs::path file = dir.path() / "a.pdf";
  test::WriteFileBytes(file, "12345");

  FileProbe alone = ProbeForWriting(file.string());
  EXPECT_EQ(alone.state, WriteProbe::kSole);
  EXPECT_EQ(alone.size, 5);
  ASSERT_TRUE(alone.file.valid()) << "the tested file stays open for the output";
  EXPECT_EQ(alone.identity, IdentityOf(alone.file.get()));
  alone.file.Close();

  {
    test::WriterProcess writer(file.string());
    ASSERT_TRUE(writer.opened());
    EXPECT_EQ(ProbeForWriting(file.string()).state, WriteProbe::kOpenElsewhere);
  }
  EXPECT_EQ(ProbeForWriting(file.string()).state, WriteProbe::kSole) << "writer gone";

  const fs::path readOnly = dir.path() / "ro.pdf";
  test::WriteFileBytes(readOnly, "x");
  chmod(readOnly.c_str(), 0444);
  const fs::path link = dir.path() / "link.pdf";
  fs::create_symlink(file, link);
  const fs::path fifo = dir.path() / "fifo.pdf";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  for (const fs::path& p : {readOnly, link, fifo, dir.path(), dir.path() / "missing"})
    EXPECT_EQ(ProbeForWriting(p.string()).state, WriteProbe::kNotWritable) << p;
}

TEST(ProbeForWriting, ALeaseBreakSignalDoesNotEndTheProcess) {
  test::SandboxDir dir;
  test::WriteFileBytes(dir.path() / "a.pdf", "x");
  ProbeForWriting((dir.path() / "a.pdf").string());
  // What a program opening the file while we hold the lease would cause.
  raise(SIGIO);
  SUCCEED();
}

// A scripted probe: the file's state, size and time stamp as the test sets them.
struct FakeFile {
  WriteProbe state = WriteProbe::kNoLeases;
  int64_t size = 100;
  int64_t mtimeNs = 1;
  int probes = 0;
};

TEST(CompletenessTracker, WithoutLeasesAFileMustSettle) {
  FakeFile f;
  CompletenessTracker tracker([&](const std::string&) {
    ++f.probes;
    return FileProbe{f.state, f.size, f.mtimeNs, {}, {}};
  });
  EXPECT_FALSE(tracker.Check("/n/a.pdf", 0).complete) << "first look only takes note";
  EXPECT_FALSE(tracker.Check("/n/a.pdf", 1999).complete);
  f.size = 200;  // still growing: the settle time starts again
  EXPECT_FALSE(tracker.Check("/n/a.pdf", 2500).complete);
  EXPECT_FALSE(tracker.Check("/n/a.pdf", 4499).complete);
  f.mtimeNs = 2;  // written again with the same size
  EXPECT_FALSE(tracker.Check("/n/a.pdf", 4600).complete);
  auto r = tracker.Check("/n/a.pdf", 6600);
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.size, 200);
  EXPECT_TRUE(tracker.Check("/n/a.pdf", 7600).complete)
      << "a failed output is retried without settling anew";

  tracker.Done("/n/a.pdf");
  EXPECT_FALSE(tracker.Check("/n/a.pdf", 8000).complete)
      << "a new file of the same name settles again";
}

TEST(CompletenessTracker, LocalFilesAreDecidedAtTheFirstLook) {
  FakeFile f;
  CompletenessTracker tracker([&](const std::string&) {
    return FileProbe{f.state, f.size, f.mtimeNs, {}, {}};
  });
  f.state = WriteProbe::kSole;
  EXPECT_TRUE(tracker.Check("/l/a.pdf", 0).complete);
  for (WriteProbe busy : {WriteProbe::kOpenElsewhere, WriteProbe::kNotWritable}) {
    f.state = busy;
    EXPECT_FALSE(tracker.Check("/l/a.pdf", 10000).complete);
    EXPECT_FALSE(tracker.Check("/l/a.pdf", 20000).complete) << "never settles while busy";
  }
  EXPECT_EQ(tracker.Watched(), 0u);
}

TEST(CompletenessTracker, FilesThatVanishedAreForgottenAfterAWhile) {
  FakeFile f;
  CompletenessTracker tracker([&](const std::string&) {
    return FileProbe{f.state, f.size, f.mtimeNs, {}, {}};
  });
  for (int i = 0; i < 50; ++i) tracker.Check("/n/" + std::to_string(i), 0);
  EXPECT_EQ(tracker.Watched(), 50u);
  // A channel with the longest interval (9999 s) still finds its first look.
  EXPECT_TRUE(tracker.Check("/n/0", 9999 * 1000).complete);
  tracker.Check("/n/other", 15LL * 3600 * 1000);
  EXPECT_EQ(tracker.Watched(), 1u);
}

}  // namespace
}  // namespace vellumora
