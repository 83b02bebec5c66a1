// The scan loop, the schedules, the load gate and ScanChannel's choice and order of files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <filesystem>

#include "kernel/ini-file.h"
#include "platform/files.h"
#include "scan-fixture.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::ScanFixture;
using test::WriteFileBytes;

// Sets the file's modification time to a local time.
void SetLocalMtime(const fs::path& file, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = 2026 - 1900;
  tm.tm_mon = 0;
  tm.tm_mday = 2;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const timespec t{std::mktime(&tm), 0};
  const timespec times[2] = {t, t};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// ---- InScheduleNow ----

struct ScheduleCase {
  const char* what;
  int entryDay;       // the day whose entry is set (0 Monday)
  const char* entry;  // 12 characters, or nullptr for a zero-filled entry
  bool entryDayActive;
  int weekday, hour, minute, second;
  bool expected;
};

class ScheduleTest : public ScanFixture, public ::testing::WithParamInterface<ScheduleCase> {};

TEST_P(ScheduleTest, InScheduleNow) {
  const ScheduleCase& c = GetParam();
  PrintChannel& ch = AddChannel(Folder("in"));
  std::fill(std::begin(ch.dayActive), std::end(ch.dayActive), 0);
  for (auto& e : ch.schedule) std::fill(std::begin(e), std::end(e), '\0');
  if (c.entry) std::copy_n(c.entry, kScheduleEntrySize, ch.schedule[c.entryDay]);
  ch.dayActive[c.entryDay] = c.entryDayActive;
  localTime.weekday = c.weekday;
  localTime.hour = c.hour;
  localTime.minute = c.minute;
  localTime.second = c.second;
  localTime.millisecond = 999;
  EXPECT_EQ(kernel->InScheduleNow(0), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScheduleTest,
    ::testing::Values(
        ScheduleCase{"equal times: all day", 2, "12:30 12:30 ", true, 2, 3, 0, 0, true},
        ScheduleCase{"equal times, day disabled", 2, "12:30 12:30 ", false, 2, 12, 30, 0, false},
        ScheduleCase{"before 08:00", 2, "08:00 17:00 ", true, 2, 7, 59, 59, false},
        ScheduleCase{"at 08:00", 2, "08:00 17:00 ", true, 2, 8, 0, 0, true},
        ScheduleCase{"16:59:59", 2, "08:00 17:00 ", true, 2, 16, 59, 59, true},
        ScheduleCase{"17:00 ends it", 2, "08:00 17:00 ", true, 2, 17, 0, 0, false},
        ScheduleCase{"another day's entry", 2, "08:00 17:00 ", true, 3, 12, 0, 0, false},
        ScheduleCase{"overnight, before its start", 0, "22:00 06:00 ", true, 0, 21, 59, 59, false},
        ScheduleCase{"overnight, evening", 0, "22:00 06:00 ", true, 0, 23, 59, 0, true},
        ScheduleCase{"overnight, into a disabled day", 0, "22:00 06:00 ", true, 1, 5, 59, 59, true},
        ScheduleCase{"overnight ends at 06:00", 0, "22:00 06:00 ", true, 1, 6, 0, 0, false},
        ScheduleCase{"overnight from Sunday into Monday", 6, "22:00 06:00 ", true, 0, 1, 0, 0,
                     true},
        ScheduleCase{"overnight of a disabled day", 0, "22:00 06:00 ", false, 1, 1, 0, 0, false},
        ScheduleCase{"zero-filled entry", 2, nullptr, true, 2, 12, 0, 0, false},
        ScheduleCase{"single digit from the editor", 2, "8:00 17:00  ", true, 2, 12, 0, 0, false}));

// ---- The loop ----

// Counts the scans of a channel by its folder's "can't be found" line: the folder is missing.
class ScanLoopTest : public ScanFixture {
 protected:
  // Runs the loop for `passes` ticks of 100 ms of the clock, calling `atPass` at each tick.
  void RunPasses(int passes, std::function<void(int)> atPass = nullptr) {
    const int64_t end = nowMs + int64_t{passes} * 100;
    int64_t nextTick = nowMs + 100;
    int done = 0;
    onSleep = [&, end](int32_t) {
      for (; nowMs >= nextTick; nextTick += 100)
        if (atPass) atPass(++done);
      if (nowMs > end) stopRequested = 1;
    };
    kernel->StartScanning();
    onSleep = nullptr;
  }
  std::string MissingLine(const std::string& name) const {
    return "ERROR: Folder " + (sandbox.path() / name).string() + " can't be found any more";
  }
};

TEST_F(ScanLoopTest, ChannelsAreScannedAtTheirIntervalWhenActiveAndInSchedule) {
  AddChannel(sandbox.path() / "every-second");
  AddChannel(sandbox.path() / "every-ten").freq = 10;
  AddChannel(sandbox.path() / "inactive").active = 0;
  std::fill_n(AddChannel(sandbox.path() / "off-schedule").dayActive, kScheduleDays, 0);
  AddChannel(sandbox.path() / "damaged").countdown = INT32_MIN;  // from a garbage record

  int activeDuringLoop = -1;
  RunPasses(200, [&](int) { activeDuringLoop = scanningActive.load(); });

  EXPECT_EQ(Count(MissingLine("every-second")), 20);
  EXPECT_EQ(Count(MissingLine("every-ten")), 2);
  EXPECT_EQ(Count(MissingLine("inactive")), 0);
  EXPECT_EQ(Count(MissingLine("off-schedule")), 0);
  EXPECT_EQ(Count(MissingLine("damaged")), 20);
  EXPECT_EQ(kernel->channels[2].countdown, 1) << "countdown reloaded from freq";

  EXPECT_EQ(activeDuringLoop, 1);
  EXPECT_EQ(scanningActive.load(), 0);
  EXPECT_EQ(stopRequested.load(), 0);
  EXPECT_EQ(messages.front(),
            "Print channel scanning started, waiting for new print files now ...");
  EXPECT_EQ(messages.back(), "Print channel scanning stopped");
}

TEST_F(ScanLoopTest, AThousandChannelsAreEachScannedEverySecond) {
  // Each channel's scan and message pump costs half a millisecond of the clock: the pass takes
  // 500 ms of work, and the loop may yield only as far as the second leaves room.
  for (int i = 0; i < 1000; ++i) AddChannel(sandbox.path() / ("missing" + std::to_string(i)));
  int pumps = 0;
  kernel->pumpMessages = [&] {
    if (++pumps % 2 == 0) ++nowMs;
  };
  RunPasses(100);
  // Ten seconds: ten scans of every channel.
  EXPECT_EQ(kernel->scansMade, 10'000u);
  EXPECT_EQ(Count(MissingLine("missing999")), 10);
}

struct LoadCase {
  int32_t maxLoad;
  int busyPercent;
  int expectedScans;  // in 20 passes
  bool measured;
};

class LoadGateTest : public ScanLoopTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadGateTest, ChannelsWaitWhileTheLoadIsAtOrAboveTheLimit) {
  const LoadCase c = GetParam();
  kernel->settings.MaxCPUload = c.maxLoad;
  int samples = 0;
  kernel->readCpuTimes = [&]() -> std::optional<CpuTimes> {
    ++samples;  // cumulative counters: each second 100 units, busyPercent of them busy
    const uint64_t busy = static_cast<uint64_t>(c.busyPercent) * samples;
    const uint64_t idle = 100u * samples - busy;
    return CpuTimes{idle, idle, busy};
  };
  AddChannel(sandbox.path() / "gated");
  RunPasses(20);
  EXPECT_EQ(Count(MissingLine("gated")), c.expectedScans);
  EXPECT_EQ(samples > 0, c.measured);
  if (c.measured) {
    EXPECT_EQ(kernel->cpuLoad.load(), c.busyPercent);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadGateTest,
                         ::testing::Values(LoadCase{100, 90, 2, false}, LoadCase{50, 50, 0, true},
                                           LoadCase{50, 49, 2, true}));

TEST_F(ScanLoopTest, MeasureCpuLoadComparesWithThePreviousSample) {
  std::vector<std::optional<CpuTimes>> samples = {CpuTimes{900, 1000, 1000},   // since boot: 55 %
                                                  CpuTimes{1000, 1200, 1100},  // +100 idle of 300
                                                  std::nullopt};
  std::size_t next = 0;
  kernel->readCpuTimes = [&] { return samples[next++]; };
  EXPECT_EQ(kernel->MeasureCpuLoad(), 55);
  EXPECT_EQ(kernel->MeasureCpuLoad(), 66);
  EXPECT_EQ(kernel->MeasureCpuLoad(), 0) << "unreadable counters";
  EXPECT_EQ(kernel->cpuLoad.load(), 0);
}

TEST_F(ScanLoopTest, ChangedSettingsAreReadEveryTenSeconds) {
  const std::string ini = kernel->dataDir + "Vellumora.ini";
  SystemSettings values;
  WriteFileBytes(ini, IniSettingsBytes("", values, kernel->appDir, kernel->dataDir));
  kernel->iniFileAge = IdentityOfPath(ini);
  kernel->channelFileAge = IdentityOfPath(kernel->dataDir + "Vellumora.vch");

  bool changedBefore = true;
  RunPasses(101, [&](int pass) {
    if (pass == 50) {
      values.LogFilename = true;
      WriteFileBytes(ini, IniSettingsBytes("", values, kernel->appDir, kernel->dataDir));
    }
    if (pass == 99) changedBefore = kernel->settings.LogFilename;
  });
  EXPECT_FALSE(changedBefore);
  EXPECT_TRUE(kernel->settings.LogFilename);
  EXPECT_EQ(Count("Read updated ini-file data"), 1);
}

TEST_F(ScanLoopTest, ServiceStopEventEndsTheLoopAndIsReported) {
  test::FakeService service;
  service.stopAfterPolls = 3;
  kernel->service = &service;
  int started = 0, stopped = 0;
  kernel->onScanningStarts = [&] { started = static_cast<int>(messages.size()) + 1; };
  kernel->onScanningStops = [&] { stopped = static_cast<int>(messages.size()) + 1; };

  kernel->StartScanning();

  EXPECT_EQ(service.polls, 3);
  EXPECT_EQ(sleptMs, 200) << "two passes before the stop event";
  ASSERT_EQ(service.reports.size(), 1u);
  EXPECT_EQ(service.reports[0], (std::vector<int32_t>{3, 1, 25000, 1, 0}));
  EXPECT_EQ(replacingMessages, std::vector<std::string>{"Stop message sent to service ..."});
  EXPECT_EQ(Count("ERROR Ini-file not found: " + kernel->dataDir + "Vellumora.ini"), 1)
      << "the service reads its settings itself";
  EXPECT_GT(started, 0);
  EXPECT_EQ(messages.at(started - 1),
            "Print channel scanning started, waiting for new print files now ...");
  EXPECT_EQ(messages.at(stopped - 1), "Print channel scanning stopped");
  EXPECT_EQ(scanningActive.load(), 0);
}

TEST_F(ScanLoopTest, QuitRequestedBeforeTheStartIsNotLost) {
  AddChannel(sandbox.path() / "missing");
  quitRequested = 1;
  kernel->StartScanning();
  EXPECT_EQ(sleptMs, 0);
  EXPECT_EQ(messages.back(), "Print channel scanning stopped");
}

// Crash leftovers are swept once, when scanning first starts: unfinished uploads in every
// channel's folder (active or not, each folder once) and render folders in Temp/, only those
// older than the process. One line says what went.
TEST_F(ScanLoopTest, TheFirstStartSweepsWhatACrashedRunLeft) {
  const fs::path in = Folder("in"), other = Folder("other");
  AddChannel(in);
  AddChannel(in);
  AddChannel(other).active = 0;
  const fs::path temp = fs::path(kernel->dataDir) / "Temp";
  fs::create_directories(temp / "vellumora-AbC123");
  struct timespec old[2]{};
  clock_gettime(CLOCK_REALTIME, &old[0]);
  old[0].tv_sec -= 600;
  old[1] = old[0];
  auto plant = [&](const fs::path& file) {
    WriteFileBytes(file, "part");
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
  };
  plant(in / ".vellumora-upload-aaaaaaaaaaaa");
  plant(other / ".vellumora-upload-bbbbbbbbbbbb");
  plant(temp / "vellumora-AbC123" / "pdftemp1.tif");
  ASSERT_EQ(utimensat(AT_FDCWD, (temp / "vellumora-AbC123").c_str(), old, 0), 0);
  WriteFileBytes(in / ".vellumora-upload-cccccccccccc", "arriving");  // newer than the process

  RunPasses(2);
  EXPECT_EQ(
      Count("Removed 2 unfinished uploads (in " + in.string() + ", " + other.string() +
            ") and 1 PDF render folder (in " + kernel->dataDir + "Temp) left by an earlier run"),
      1)
      << ::testing::PrintToString(messages);
  EXPECT_FALSE(fs::exists(in / ".vellumora-upload-aaaaaaaaaaaa"));
  EXPECT_FALSE(fs::exists(other / ".vellumora-upload-bbbbbbbbbbbb"));
  EXPECT_FALSE(fs::exists(temp / "vellumora-AbC123"));
  EXPECT_TRUE(fs::exists(in / ".vellumora-upload-cccccccccccc"));

  // A later start in the same process sweeps nothing: what is there now may be its own.
  plant(in / ".vellumora-upload-dddddddddddd");
  messages.clear();
  RunPasses(2);
  EXPECT_TRUE(fs::exists(in / ".vellumora-upload-dddddddddddd"));
  EXPECT_EQ(messages.front(),
            "Print channel scanning started, waiting for new print files now ...");
}

// ---- ScanChannel ----

TEST_F(ScanFixture, WithSortByDateFilesOfTheSameMinuteGoByName) {
  kernel->settings.SortByDate = true;
  fs::path in = Folder("in");
  for (auto [name, h, m, s] : {std::tuple{"b.pdf", 10, 0, 10},
                               {"a.pdf", 10, 0, 50},
                               {"C.pdf", 9, 59, 59},
                               {"A0.pdf", 10, 1, 0}}) {
    WriteFileBytes(in / name, "%PDF");
    SetLocalMtime(in / name, h, m, s);
  }
  AddChannel(in);
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(), (std::vector<std::string>{"C.pdf", "a.pdf", "b.pdf", "A0.pdf"}));
  EXPECT_TRUE(fs::is_empty(in));
}

TEST_F(ScanFixture, WithoutSortByDateNamesGoInOrderIgnoringCase) {
  fs::path in = Folder("in");
  for (const char* name : {"C.pdf", "b.pdf", "a.PDF", "A.pdf"}) WriteFileBytes(in / name, "%PDF");
  AddChannel(in);
  kernel->ScanChannel(0, false);
  // a.PDF and A.pdf are two files here; neither may be dropped as a duplicate.
  EXPECT_EQ(output.PrintedNames(), (std::vector<std::string>{"A.pdf", "a.PDF", "b.pdf", "C.pdf"}));
}

TEST_F(ScanFixture, WhichEntriesAreTaken) {
  fs::path in = Folder("in");
  for (const char* name :
       {"a.pdf", "x.TI", "e.JPEG", "b.txt", "c.log", "d.prn", "noext", "Thumbs.db", "thumbs.db"})
    WriteFileBytes(in / name, "data");
  fs::create_directory(in / "sub.pdf");
  fs::create_symlink(in / "a.pdf", in / "link.pdf");
  ASSERT_EQ(mkfifo((in / "fifo.pdf").c_str(), 0644), 0);
  AddChannel(in);

  kernel->settings.NoRawFilePrinting = true;
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(), (std::vector<std::string>{"a.pdf", "e.JPEG", "x.TI"}));

  output.calls.clear();
  kernel->settings.NoRawFilePrinting = false;
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(),
            (std::vector<std::string>{"b.txt", "c.log", "d.prn", "noext", "thumbs.db"}));
  EXPECT_TRUE(fs::exists(in / "Thumbs.db"));
  EXPECT_TRUE(fs::is_directory(in / "sub.pdf"));
  EXPECT_TRUE(fs::is_symlink(in / "link.pdf"));
}

TEST_F(ScanFixture, AFolderFoundEmptyIsListedAgainOnlyWhenSomethingHappensInIt) {
  fs::path in = Folder("in");
  WriteFileBytes(in / "notes.txt", "not taken while raw printing is off");
  AddChannel(in);
  kernel->settings.NoRawFilePrinting = true;
  kernel->ScanChannel(0, false);
  kernel->ScanChannel(0, false);
  EXPECT_EQ(kernel->listingsSkipped, 1u);

  // A file arrives: the next scan lists the folder and takes it.
  WriteFileBytes(in / "a.pdf", "%PDF");
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(), std::vector<std::string>{"a.pdf"});
  EXPECT_EQ(kernel->listingsSkipped, 1u);

  // Empty again at the next listing, untouched at the one after.
  kernel->ScanChannel(0, false);
  kernel->ScanChannel(0, false);
  EXPECT_EQ(kernel->listingsSkipped, 2u);

  // Raw printing switched on: the text file is one to take now, unchanged as it is.
  output.calls.clear();
  kernel->settings.NoRawFilePrinting = false;
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(), std::vector<std::string>{"notes.txt"});

  // A folder still holding a file it could not finish is listed at every scan.
  WriteFileBytes(in / "kept.prn", "data");
  output.onPrint = [](const auto&) { return OutputReport{OutputResult::kRetry, "ERROR offline"}; };
  kernel->ScanChannel(0, false);
  kernel->ScanChannel(0, false);
  EXPECT_EQ(kernel->listingsSkipped, 2u);
}

struct QueueCase {
  int32_t queued;
  std::vector<std::string> printed;
  std::string delay;
};

class QueueLimitTest : public ScanFixture, public ::testing::WithParamInterface<QueueCase> {};

TEST_P(QueueLimitTest, FilesWaitWhileThePrinterQueueIsFull) {
  fs::path in = Folder("in");
  for (const char* name : {"1.pdf", "2.pdf"}) WriteFileBytes(in / name, "%PDF");
  AddChannel(in).maxJobsInSpooler = 2;
  output.queuedJobs = GetParam().queued;
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(), GetParam().printed);
  EXPECT_EQ(Count(GetParam().delay), 1);
  EXPECT_TRUE(fs::exists(in / "2.pdf"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueueLimitTest,
    ::testing::Values(
        QueueCase{2, {}, "DELAY in print channel 1 --- Too many (2) jobs in spooler"},
        QueueCase{1, {"1.pdf"}, "DELAY in print channel 1 --- Too many (2) jobs in spooler"}));

TEST_F(ScanFixture, PrinterIsPreparedOnceBeforeTheFirstFile) {
  fs::path in = Folder("in");
  AddChannel(in);
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.prepareCalls, 0) << "nothing to print, nothing to prepare";

  for (const char* name : {"1.pdf", "2.pdf"}) WriteFileBytes(in / name, "%PDF");
  output.prepareResult = false;
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.prepareCalls, 1);
  EXPECT_TRUE(output.calls.empty());

  output.prepareResult = true;
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.prepareCalls, 2);
  EXPECT_EQ(output.calls.size(), 2u);
  EXPECT_EQ(kernel->jobsInSpooler, 2);
  EXPECT_EQ(kernelIdle.load(), 1);
}

TEST_F(ScanFixture, AStopDuringTheFileLoopLeavesTheRemainingFiles) {
  fs::path in = Folder("in");
  for (const char* name : {"1.pdf", "2.pdf", "3.pdf"}) WriteFileBytes(in / name, "%PDF");
  AddChannel(in);

  // The first output is cut short by the stop: its file stays too, without a success line.
  output.onPrint = [](const test::FakeOutput::Call&) {
    stopRequested = 1;
    return OutputReport{OutputResult::kStopped, {}};
  };
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(), std::vector<std::string>{"1.pdf"});
  for (const char* name : {"1.pdf", "2.pdf", "3.pdf"}) EXPECT_TRUE(fs::exists(in / name)) << name;
  EXPECT_EQ(Count("File was successfully sent to printer "), 0);
  EXPECT_EQ(kernel->jobsInSpooler, 0);

  // An output that finished its job before it saw the stop: that file is done, the rest wait.
  stopRequested = 0;
  output.calls.clear();
  output.onPrint = [](const test::FakeOutput::Call&) {
    stopRequested = 1;
    return OutputReport{};
  };
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.PrintedNames(), std::vector<std::string>{"1.pdf"});
  EXPECT_FALSE(fs::exists(in / "1.pdf"));
  EXPECT_TRUE(fs::exists(in / "2.pdf"));
  EXPECT_TRUE(fs::exists(in / "3.pdf"));
  EXPECT_EQ(Count("File was successfully sent to printer "), 1);
}

TEST_F(ScanFixture, TheRootFolderIsNeverScanned) {
  test::FakeWindows windows;
  kernel->windows = &windows;
  for (const char* root : {"/", "//", ""}) {
    PrintChannel& ch = AddChannel(sandbox.path());
    WriteField(ch.sourceFolder, root);
    kernel->ScanChannel(kernel->channelCount - 1, false);
  }
  EXPECT_TRUE(windows.processingCalls.empty());
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(kernel->scanFolder, "/");
}

TEST_F(ScanFixture, DesktopModeAnnouncesEachFileAndPumpsWhileBusy) {
  test::FakeWindows windows;
  kernel->windows = &windows;
  std::vector<int> idleWhilePumping;
  kernel->pumpMessages = [&] { idleWhilePumping.push_back(kernelIdle.load()); };
  fs::path in = Folder("in");
  WriteFileBytes(in / "a.pdf", "%PDF");
  AddChannel(fs::path(in.string() + "/"));
  kernel->ScanChannel(0, false);

  EXPECT_EQ(kernel->scanFolder, in.string() + "/");
  EXPECT_EQ(messages.front(),
            "Input file " + (in / "a.pdf").string() + " found - Processing started");
  EXPECT_EQ(windows.processingCalls, (std::vector<bool>{true, false}));
  EXPECT_EQ(sleptMs, 200);
  EXPECT_EQ(idleWhilePumping, std::vector<int>(20, 0));
  EXPECT_EQ(windows.clearPreviewCalls, 1);
  EXPECT_EQ(kernelIdle.load(), 1);
}

TEST_F(ScanFixture, NamesOfAnyKindAreDispatchedAndArchivedUnchanged) {
  kernel->settings.LogFilename = true;
  fs::path in = Folder("in");
  fs::path archive = Folder("archive");
  const std::vector<std::string> names = {"bad\xFF\xFE.pdf", "with blanks and \"quotes\" 'x'.pdf",
                                          "\xD1\x81\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA.pdf",
                                          "\xE5\x86\x99\xE7\x9C\x9F.jpg", "line\nbreak.pdf"};
  for (const std::string& name : names) WriteFileBytes(in / name, "%PDF-1.4");
  PrintChannel& ch = AddChannel(in);
  ch.moveFile = 1;
  WriteField(ch.moveDir, archive.string());

  kernel->ScanChannel(0, false);

  ASSERT_EQ(output.calls.size(), names.size());
  for (const auto& call : output.calls) EXPECT_EQ(call.path, (in / call.name).string());
  for (const std::string& name : names) {
    EXPECT_TRUE(fs::exists(archive / name)) << name;
    EXPECT_FALSE(fs::exists(in / name)) << name;
  }
  EXPECT_EQ(Count("File bad\\xFF\\xFE.pdf was successfully sent to printer "), 1);
  EXPECT_EQ(Count("File line\\x0Abreak.pdf was successfully sent to printer "), 1);
  EXPECT_EQ(Count("File \xE5\x86\x99\xE7\x9C\x9F.jpg was successfully sent to printer "), 1);
  for (const std::string& m : messages) EXPECT_EQ(m.find('\n'), std::string::npos) << m;
}

}  // namespace
}  // namespace vellumora
