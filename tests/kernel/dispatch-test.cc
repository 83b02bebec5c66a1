// ProcessFile: completeness, the choice of output, the result messages and the disposal.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/writer-process.h"
#include "scan-fixture.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::FakeOutput;
using test::ReadFileBytes;
using test::WriteFileBytes;

class DispatchTest : public test::ScanFixture {
 protected:
  DispatchTest() {
    AddChannel(in);
    kernel->currentChannel = kernel->channels[0];
  }
  // Puts a file into the input folder and dispatches it.
  bool Dispatch(const std::string& name, const std::string& bytes = "%PDF-1.4",
                const std::string& printer = "Office", bool testMode = false) {
    if (!fs::exists(in / name)) WriteFileBytes(in / name, bytes);
    return Again(name, printer, testMode);
  }
  // Dispatches a file that is already there.
  bool Again(const std::string& name, const std::string& printer = "Office",
             bool testMode = false) {
    return kernel->ProcessFile((in / name).string(), printer, testMode, name);
  }
  void ArchiveInto(const fs::path& dir) {
    kernel->currentChannel.moveFile = 1;
    WriteField(kernel->currentChannel.moveDir, dir.string());
  }

  fs::path in = Folder("in");
};

// ---- Result messages ----

struct ResultCase {
  const char* name;
  const char* bytes;
  bool logFilename;
  bool logPrinter;
  bool skippedInPreview;
  const char* message;
};

class ResultMessageTest : public DispatchTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(ResultMessageTest, FileIsDisposedOfWithItsResultLine) {
  const ResultCase& c = GetParam();
  kernel->settings.LogFilename = c.logFilename;
  kernel->settings.LogPrinter = c.logPrinter;
  output.onPrint = [&](const FakeOutput::Call&) {
    return OutputReport{c.skippedInPreview ? OutputResult::kSkipped : OutputResult::kPrinted, {}};
  };
  EXPECT_TRUE(Dispatch(c.name, c.bytes));
  EXPECT_EQ(messages, std::vector<std::string>{c.message});
  EXPECT_FALSE(fs::exists(in / c.name));
  EXPECT_EQ(output.calls.empty(), std::string(c.bytes).size() < 2) << "empty files are not output";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultMessageTest,
    ::testing::Values(
        ResultCase{"a.pdf", "%PDF", false, false, false, "File was successfully sent to printer "},
        ResultCase{"a.pdf", "%PDF", false, true, false,
                   "File was successfully sent to printer Office"},
        ResultCase{"a.pdf", "%PDF", true, false, false,
                   "File a.pdf was successfully sent to printer "},
        ResultCase{"a.pdf", "%PDF", true, true, false,
                   "File a.pdf was successfully sent to printer Office"},
        ResultCase{"a.jpg", "JFIF", false, false, true, "File was ignored by user"},
        ResultCase{"a.jpg", "JFIF", true, false, true, "File a.jpg was ignored by user"},
        ResultCase{"one.pdf", "x", false, false, false, "Empty file was ignored "},
        ResultCase{"one.pdf", "x", true, true, false, "Empty file one.pdf was ignored"},
        ResultCase{"zero.pdf", "", false, false, false, "Empty file was ignored "}));

// ---- Choice of output ----

TEST_F(DispatchTest, OutputFollowsTheExtension) {
  kernel->currentChannel.copies = 3;
  kernel->settings.UsePDFThread = true;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.pdf", "pdf"},   {"b.JPG", "bitmap"}, {"c.tiff", "bitmap"},
      {"x.TI", "bitmap"}, {"d.png", "bitmap"}, {"e.txt", "text"},
      {"f.LOG", "text"},  {"g.prn", "raw"},    {"noext", "raw"}};
  for (const auto& [name, kind] : cases) {
    output.calls.clear();
    EXPECT_TRUE(Dispatch(name)) << name;
    ASSERT_EQ(output.calls.size(), 1u) << name;
    EXPECT_EQ(output.calls[0].kind, kind) << name;
    EXPECT_EQ(output.calls[0].path, (in / name).string());
    EXPECT_EQ(output.calls[0].copies, 3) << name;
  }

  // PDF on a thread of its own only outside the service.
  output.calls.clear();
  Dispatch("own.pdf");
  EXPECT_TRUE(output.calls.at(0).ownThread);
  test::FakeService service;
  kernel->service = &service;
  output.calls.clear();
  Dispatch("service.pdf");
  EXPECT_FALSE(output.calls.at(0).ownThread);
}

TEST_F(DispatchTest, TheOutputReadsTheTestedFileThroughItsDescriptor) {
  // Whatever is put at the file's name after the completeness test, the output reads the file
  // that was tested, through the descriptor the test opened; the dispatcher closes it after.
  WriteFileBytes(in / "secret", "root only");
  int seen = -1;
  std::string read;
  output.onPrint = [&](const FakeOutput::Call& call) {
    seen = call.fd;
    fs::remove(in / "a.prn");
    fs::create_symlink(in / "secret", in / "a.prn");
    char buffer[64] = {};
    read.assign(buffer, static_cast<std::size_t>(pread(call.fd, buffer, sizeof buffer, 0)));
    return OutputReport{};
  };
  Dispatch("a.prn", "the label");
  EXPECT_EQ(read, "the label");
  ASSERT_GE(seen, 0);
  EXPECT_EQ(fcntl(seen, F_GETFD), -1) << "descriptor still open";
  EXPECT_EQ(kernel->inputHandle, -1);
  // The link that replaced the printed file is not the printed file: it stays, and so does the
  // file it points at.
  EXPECT_TRUE(fs::is_symlink(in / "a.prn"));
  EXPECT_TRUE(fs::exists(in / "secret"));
}

// ---- Files that stay ----

struct KeptCase {
  const char* what;
  bool spoolerKnows, objectKnows, outputFails, noOutput;
  const char* message;
};

class KeptFileTest : public DispatchTest, public ::testing::WithParamInterface<KeptCase> {};

TEST_P(KeptFileTest, FailuresLeaveTheFileForTheNextScan) {
  const KeptCase& c = GetParam();
  test::FakeWindows windows;
  kernel->windows = &windows;
  output.printerKnownToSpooler = c.spoolerKnows;
  output.printerKnownToObject = c.objectKnows;
  output.onPrint = [&](const FakeOutput::Call&) {
    if (c.outputFails) return OutputReport{OutputResult::kRetry, "ERROR Printing failed"};
    return OutputReport{};
  };
  if (c.noOutput) kernel->output = nullptr;
  for (int scan = 0; scan < 2; ++scan) EXPECT_FALSE(Dispatch("a.pdf")) << c.what;
  EXPECT_EQ(messages, std::vector<std::string>(2, c.message)) << c.what;
  EXPECT_TRUE(fs::exists(in / "a.pdf")) << c.what;
  EXPECT_EQ(windows.clearPreviewCalls, 0) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeptFileTest,
    ::testing::Values(
        KeptCase{"spooler", false, true, false, false,
                 "ERROR The target printer Office is currently not defined"},
        KeptCase{"printer object", true, false, false, false,
                 "ERROR The target printer Office is currently not defined."},
        KeptCase{"output", true, true, true, false, "ERROR Printing failed"},
        KeptCase{"no output layer", true, true, false, true,
                 "ERROR No printer output available, file a.pdf stays in the input folder"}));

TEST_F(DispatchTest, AnOutputEndedByAStopLeavesTheFileWithoutASuccessLine) {
  output.onPrint = [](const FakeOutput::Call&) { return OutputReport{OutputResult::kStopped, {}}; };
  EXPECT_FALSE(Dispatch("a.pdf"));
  EXPECT_TRUE(fs::exists(in / "a.pdf"));
  EXPECT_TRUE(messages.empty());
}

// ---- The screen ----

struct ScreenCase {
  const char* name;
  bool windows, serviceRunning, pictureLoads, logFilename;
  bool kept;
  std::vector<std::string> messages;
};

class ScreenTest : public DispatchTest, public ::testing::WithParamInterface<ScreenCase> {};

TEST_P(ScreenTest, ScreenShowsPicturesOnlyWhereAScreenIsThere) {
  const ScreenCase& c = GetParam();
  test::FakeWindows windows;
  windows.pictureLoads = c.pictureLoads;
  test::FakeService service;
  service.running = c.serviceRunning;
  if (c.windows) kernel->windows = &windows;
  kernel->service = &service;
  kernel->settings.LogFilename = c.logFilename;

  EXPECT_EQ(Dispatch(c.name, "picture", "TheSCREEN"), !c.kept);
  EXPECT_EQ(fs::exists(in / c.name), c.kept);
  std::vector<std::string> expected;
  for (const std::string& m : c.messages)
    expected.push_back(m == "corrupt" ? "ERROR Corrupted graphic file " + (in / c.name).string()
                                      : m);
  EXPECT_EQ(messages, expected);
  EXPECT_TRUE(output.calls.empty());
  EXPECT_EQ(windows.clearPreviewCalls, 0);
  EXPECT_EQ(windows.hideCalls, c.pictureLoads ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScreenTest,
    ::testing::Values(
        ScreenCase{"a.jpg",
                   false,
                   false,
                   true,
                   false,
                   true,
                   {"Screen is not accessible in service modus."}},
        ScreenCase{
            "a.jpg", true, true, true, false, true, {"Screen is not accessible in service modus."}},
        ScreenCase{"a.pdf",
                   true,
                   false,
                   true,
                   false,
                   true,
                   {"Desktop screen can only show bitmap pictures"}},
        ScreenCase{"a.jpg", true, false, true, false, false, {}},
        ScreenCase{"a.jpg",
                   true,
                   false,
                   true,
                   true,
                   false,
                   {"File a.jpg was successfully sent to screen"}},
        ScreenCase{"a.jpg", true, false, false, false, false, {"corrupt"}}));

// ---- Completeness ----

TEST_F(DispatchTest, AFileStillOpenForWritingWaitsUntilTheWriterClosesIt) {
  WriteFileBytes(in / "a.pdf", "%PDF-1.4 partial");
  test::WriterProcess writer((in / "a.pdf").string());
  ASSERT_TRUE(writer.opened());
  EXPECT_FALSE(Again("a.pdf"));
  EXPECT_FALSE(Again("a.pdf"));
  EXPECT_EQ(messages, std::vector<std::string>(
                          2, "Input file has not yet been completed. Retrying in next cycle."));
  EXPECT_TRUE(output.calls.empty());
  EXPECT_TRUE(fs::exists(in / "a.pdf"));

  writer.Close();
  EXPECT_TRUE(Again("a.pdf")) << "taken at the first look after the writer is gone";
  EXPECT_EQ(output.calls.size(), 1u);
  EXPECT_FALSE(fs::exists(in / "a.pdf"));
}

TEST_F(DispatchTest, AReadOnlyFileStays) {
  WriteFileBytes(in / "a.pdf", "%PDF-1.4");
  ASSERT_EQ(chmod((in / "a.pdf").c_str(), 0444), 0);
  EXPECT_FALSE(Again("a.pdf"));
  EXPECT_FALSE(Again("a.pdf"));
  EXPECT_EQ(messages, std::vector<std::string>(
                          2, "Input file has not yet been completed. Retrying in next cycle."));
  EXPECT_TRUE(fs::exists(in / "a.pdf"));
}

// ---- Disposal ----

TEST_F(DispatchTest, ArchivingTheSameNameTwiceAddsTheTimeOfTheMove) {
  fs::path archive = Folder("archive");
  ArchiveInto(archive);
  EXPECT_TRUE(Dispatch("a.jpg", "first"));
  EXPECT_TRUE(Dispatch("a.jpg", "second"));
  EXPECT_EQ(ReadFileBytes(archive / "a.jpg"), "first");
  EXPECT_EQ(ReadFileBytes(archive / "20260102030405006 a.jpg"), "second");
  EXPECT_FALSE(fs::exists(in / "a.jpg"));
}

TEST_F(DispatchTest, AMissingArchiveFolderKeepsTheFileAfterTenAttempts) {
  ArchiveInto(sandbox.path() / "no-such-folder");
  const std::string retry =
      "Retrying to move printed file to " + (sandbox.path() / "no-such-folder" / "a.pdf").string();
  EXPECT_FALSE(Dispatch("a.pdf"));
  EXPECT_EQ(Count(retry), 10);
  EXPECT_EQ(sleptMs, 10 * 2000);
  EXPECT_EQ(messages.back(), "File was successfully sent to printer ")
      << "logged after the retries";
  EXPECT_TRUE(fs::exists(in / "a.pdf"));

  // A stop ends the attempts at once.
  messages.clear();
  onSleep = [](int32_t) { stopRequested = 1; };
  EXPECT_FALSE(Dispatch("a.pdf"));
  EXPECT_EQ(Count(retry), 1);
  EXPECT_TRUE(fs::exists(in / "a.pdf"));
}

// Makes a folder immutable, so that not even root can delete from it; undone on destruction.
class ImmutableFolder {
 public:
  explicit ImmutableFolder(const fs::path& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY)) {
    int flags = 0;
    if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_IMMUTABLE_FL;
      set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
  }
  ~ImmutableFolder() {
    int flags = 0;
    if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
      flags &= ~FS_IMMUTABLE_FL;
      ioctl(fd_, FS_IOC_SETFLAGS, &flags);
    }
    if (fd_ >= 0) close(fd_);
  }
  bool set() const { return set_; }

 private:
  int fd_;
  bool set_ = false;
};

TEST_F(DispatchTest, AFileThatCannotBeDeletedStaysAfterAHundredAttempts) {
  WriteFileBytes(in / "a.pdf", "%PDF-1.4");
  ImmutableFolder locked(in);
  if (!locked.set())
    GTEST_SKIP() << "no immutable flag here (needs root on ext4, xfs, btrfs or tmpfs)";
  EXPECT_FALSE(Again("a.pdf"));
  EXPECT_EQ(Count("Retrying to delete file ..."), 100);
  EXPECT_EQ(sleptMs, 100 * 1000);
  EXPECT_TRUE(fs::exists(in / "a.pdf"));
}

TEST_F(DispatchTest, AFileThatVanishedDuringOutputCountsAsDeleted) {
  output.onPrint = [](const FakeOutput::Call& call) {
    fs::remove(call.path);
    return OutputReport{};
  };
  EXPECT_TRUE(Dispatch("a.pdf"));
  EXPECT_EQ(messages, std::vector<std::string>{"File was successfully sent to printer "});
  EXPECT_EQ(sleptMs, 0);
}

TEST_F(DispatchTest, AFailedTestPrintoutStillRemovesItsFile) {
  output.printerKnownToSpooler = false;
  EXPECT_FALSE(Dispatch("TestFile.pdf", "%PDF", "Office", true));
  EXPECT_FALSE(fs::exists(in / "TestFile.pdf"));
  EXPECT_EQ(messages,
            std::vector<std::string>{"ERROR The target printer Office is currently not defined"});

  WriteFileBytes(in / "TestFile.jpg", "JFIF");
  ASSERT_EQ(chmod((in / "TestFile.jpg").c_str(), 0444), 0);
  EXPECT_FALSE(Again("TestFile.jpg", "Office", true));
  EXPECT_FALSE(fs::exists(in / "TestFile.jpg"));
}

// ---- The ledger of printed files ----

TEST_F(DispatchTest, AJobTheServerHoldsIsNotPrintedAgainWhenItsAnswerWasLost) {
  // The output saw a failure, but the print server took the job all the same (its answer was
  // lost): the next scan asks, counts the job as printed, and only disposes of the file.
  output.fates[1] = JobFate::kHeld;
  output.onPrint = [&](const FakeOutput::Call&) {
    return OutputReport{OutputResult::kRetry, "ERROR answer lost"};
  };
  EXPECT_FALSE(Dispatch("a.prn"));
  output.onPrint = nullptr;
  EXPECT_TRUE(Again("a.prn"));
  EXPECT_EQ(output.calls.size(), 1u) << "printed once only";
  EXPECT_EQ(output.asked, std::vector<int32_t>{1});
  EXPECT_FALSE(fs::exists(in / "a.prn"));
  EXPECT_EQ(messages.back(), "File was successfully sent to printer ");
  EXPECT_TRUE(kernel->ledger().entries().empty());
}

TEST_F(DispatchTest, AnUncertainAttemptIsCompletedWithTheMissingCopiesOnly) {
  // Three copies as three jobs: two reached the server, the third broke off.
  kernel->currentChannel.copies = 3;
  output.jobPerCopy = true;
  output.fates = {{1, JobFate::kHeld}, {2, JobFate::kHeld}, {3, JobFate::kBroken}};
  output.onPrint = [](const FakeOutput::Call&) {
    return OutputReport{OutputResult::kRetry, "ERROR third copy failed"};
  };
  EXPECT_FALSE(Dispatch("a.prn"));
  output.onPrint = nullptr;
  EXPECT_TRUE(Again("a.prn"));
  ASSERT_EQ(output.calls.size(), 2u);
  EXPECT_EQ(output.calls[1].copies, 1);
  EXPECT_EQ(output.cancelled, std::vector<int32_t>{3});

  // Copies the server confirmed count even once it has forgotten them (finished jobs leave
  // its history): a stop after two of three copies prints the third only.
  output.calls.clear();
  output.cancelled.clear();
  WriteFileBytes(in / "c.prn", "data");
  output.confirmedBeforeTheEnd = 2;
  output.onPrint = [](const FakeOutput::Call&) { return OutputReport{OutputResult::kStopped, {}}; };
  EXPECT_FALSE(Again("c.prn"));
  output.onPrint = nullptr;
  output.confirmedBeforeTheEnd = 0;
  for (int32_t id : {4, 5}) output.fates[id] = JobFate::kGone;
  EXPECT_TRUE(Again("c.prn"));
  ASSERT_EQ(output.calls.size(), 2u);
  EXPECT_EQ(output.calls[1].copies, 1);
  output.jobPerCopy = false;

  // A server that cannot be asked: nothing is printed and the file waits.
  output.calls.clear();
  WriteFileBytes(in / "b.prn", "data");
  output.fates[output.nextJobId] = JobFate::kUnknown;
  output.onPrint = [](const FakeOutput::Call&) {
    return OutputReport{OutputResult::kRetry, "ERROR server gone"};
  };
  kernel->currentChannel.copies = 1;
  EXPECT_FALSE(Again("b.prn"));
  output.onPrint = nullptr;
  EXPECT_FALSE(Again("b.prn"));
  EXPECT_EQ(output.calls.size(), 1u);
  EXPECT_EQ(messages.back(),
            "ERROR The print server cannot say whether file b.prn was printed before. Retrying "
            "in next cycle.");
  EXPECT_TRUE(fs::exists(in / "b.prn"));
}

TEST_F(DispatchTest, ARejectedFileIsDisposedOfWithoutASuccessLine) {
  output.onPrint = [&](const FakeOutput::Call& call) {
    messages.push_back("ERROR Corrupted graphic file " + call.path);
    return OutputReport{OutputResult::kRejected, {}};
  };
  EXPECT_TRUE(Dispatch("a.png", "not a picture"));
  EXPECT_FALSE(fs::exists(in / "a.png"));
  EXPECT_EQ(messages,
            std::vector<std::string>{"ERROR Corrupted graphic file " + (in / "a.png").string()});
}

TEST(PrintLedgerText, ReadsWhatItWritesAndDropsWhatItCannotRead) {
  LedgerEntry e;
  e.file = {2049, 131, 4, 1765350000123456789};
  e.channel = 3;
  e.printer = "Office Printer";
  e.path = "/in/label one%\t.prn";
  e.jobs = {{12, 1}, {13, 2}};
  LedgerEntry printed = e;
  printed.file.inode = 132;
  printed.printed = true;
  printed.jobs.clear();
  printed.printer.clear();
  std::vector<LedgerEntry> back;
  ASSERT_TRUE(PrintLedger::Parse(PrintLedger::Serialize({e, printed}), &back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].file, e.file);
  EXPECT_EQ(back[0].path, e.path);
  EXPECT_EQ(back[0].printer, e.printer);
  EXPECT_EQ(back[0].jobs.size(), 2u);
  EXPECT_EQ(back[0].jobs[1].copies, 2);
  EXPECT_FALSE(back[0].printed);
  EXPECT_TRUE(back[1].printed);
  EXPECT_EQ(back[1].printer, "");

  const char* bad[] = {
      "1 2 3 4 5 X - p /a",                        // no such state
      "1 2 3 4 5 S 0:1 p /a",                      // job 0
      "1 2 3 4 5 S 9:0 p /a",                      // no copies
      "1 2 3 4 5 S - p %zz",                       // broken escape
      "99999999999999999999999 2 3 4 5 S - p /a",  // overflow
      "1 2 3 4 5 S - p",                           // a field short
  };
  for (const char* line : bad) {
    const std::string text = std::string("Vellumora ledger 1\n") + line + "\n";
    EXPECT_FALSE(PrintLedger::Parse(text, &back)) << line;
    EXPECT_TRUE(back.empty()) << line;
  }
  EXPECT_FALSE(PrintLedger::Parse("not a ledger\n", &back));
}

TEST_F(DispatchTest, ALongNameTakenInTheArchiveIsShortenedNotPrintedAgain) {
  const fs::path archive = Folder("archive");
  ArchiveInto(archive);
  const std::string name = std::string(251, 'n') + ".prn";  // 255 bytes, the longest name
  WriteFileBytes(archive / name, "earlier");
  EXPECT_TRUE(Dispatch(name, "label"));
  EXPECT_FALSE(fs::exists(in / name));
  EXPECT_EQ(ReadFileBytes(archive / name), "earlier") << "nothing in the archive is replaced";
  int moved = 0;
  for (const auto& entry : fs::directory_iterator(archive)) {
    const std::string n = entry.path().filename().string();
    if (n == name) continue;
    ++moved;
    EXPECT_EQ(n.size(), 255u);
    EXPECT_EQ(n.substr(n.size() - 4), ".prn");
    EXPECT_EQ(n[17], ' ');
    EXPECT_EQ(ReadFileBytes(entry.path()), "label");
  }
  EXPECT_EQ(moved, 1);

  // An archive folder left empty never sends files to the root folder.
  WriteField(kernel->currentChannel.moveDir, "");
  EXPECT_FALSE(Dispatch("b.prn"));
  EXPECT_TRUE(fs::exists(in / "b.prn"));
  EXPECT_EQ(output.calls.size(), 2u);
  EXPECT_FALSE(Again("b.prn"));
  EXPECT_EQ(output.calls.size(), 2u) << "printed once, whatever became of its disposal";
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "ERROR File b.prn was printed but couldn't be moved: the channel names no "
                       "archive folder. It will not be printed again; its disposal is retried at "
                       "each scan."),
            1);
}

TEST_F(DispatchTest, OnlyEntriesOfFilesCertainlyGoneLeaveTheLedger) {
  // A path that cannot be looked at (here a link loop; a share that is away, in life) is no
  // proof that the printed file is gone: its entry stays, or the file would print again.
  fs::create_symlink(in / "loop", in / "loop");
  WriteFileBytes(in / "kept.prn", "data");
  LedgerEntry unknown, gone, changed;
  unknown.path = (in / "loop" / "a.prn").string();
  unknown.file = {1, 2, 3, 4};
  gone.path = (in / "never-there.prn").string();
  gone.file = {1, 5, 3, 4};
  changed.path = (in / "kept.prn").string();
  changed.file = IdentityOfPath(changed.path);
  changed.file.size += 1;  // written over since it was printed
  kernel->PruneLedger();   // loads the (empty) ledger
  for (const LedgerEntry& e : {unknown, gone, changed}) kernel->ledger().Add(e);
  kernel->PruneLedger();
  ASSERT_EQ(kernel->ledger().entries().size(), 1u);
  EXPECT_EQ(kernel->ledger().entries()[0].path, unknown.path);
}

}  // namespace
}  // namespace vellumora
