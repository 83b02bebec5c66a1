// A raw file from the channel's folder to the print queue and out of the folder: the scan,
// the dispatcher and raw printing together, against the private print server.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/outputs-fixture.h"
#include "output/outputs.h"
#include "support/cups-sandbox.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::CupsSandbox;

class RawDispatchTest : public test::OutputsFixture {
 protected:
  RawDispatchTest() {
    fs::create_directory(in);
    kernel->settings.NoRawFilePrinting = false;
    PrintChannel c = EmptyChannel();
    WriteField(c.sourceFolder, in.string());
    WriteField(c.printerName, CupsSandbox::kRawQueue);
    WriteField(c.startCode, "[27]E");
    WriteField(c.stopCode, "[27]%-12345X");
    c.copies = 1;
    c.freq = 1;
    c.active = 1;
    kernel->channels = {c, EmptyChannel()};
    kernel->channelCount = 1;
  }

  int Count(const std::string& prefix) const {
    return static_cast<int>(std::count_if(
        log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }

  // Runs one scan in a child process of its own on the same data folder and print server,
  // killed with SIGKILL at `point`: a crash at exactly that moment. Returns how the child ended.
  int ScanInChildKilledAt(C_Kernel::DispatchPoint point) {
    const pid_t child = fork();
    if (child == 0) {
      // The child must not share the parent's connection to the print server.
      const std::string server = cupsServer();
      cupsSetServer(server.c_str());
      C_Kernel k(dir.path().string());
      WatermarkBitmap mark;
      Outputs o(k, mark);
      k.output = &o;
      k.settings.NoRawFilePrinting = false;
      k.channels = kernel->channels;
      k.channelCount = kernel->channelCount;
      k.dispatchProbe = [point](C_Kernel::DispatchPoint p) {
        if (p == point) raise(SIGKILL);
      };
      k.ScanChannel(0, false);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  }

  fs::path in = dir.path() / "in";
  CupsSandbox& cups = CupsSandbox::Get();
};

TEST_F(RawDispatchTest, FileIsPrintedFramedAndRemoved) {
  const std::string data("label\0\x1B\x01\r\n", 10);
  test::WriteFileBytes(in / "label.prn", data);
  kernel->channels[0].copies = 3;
  kernel->ScanChannel(0, false);

  auto jobs = cups.WaitForJobs(CupsSandbox::kRawQueue, 3);
  ASSERT_EQ(jobs.size(), 3u);
  for (const auto& job : jobs) {
    EXPECT_EQ(job.data, "\x1B\x45" + data + "\x1B%-12345X");
    EXPECT_EQ(job.Info("title"), "Vellumora File");
    EXPECT_EQ(cups.JobAttribute(job.id, "document-name-supplied"), "label.prn");
  }
  EXPECT_FALSE(fs::exists(in / "label.prn"));
  EXPECT_TRUE(Logged("File was successfully sent to printer ")) << ::testing::PrintToString(log);
}

TEST_F(RawDispatchTest, UnknownPrinterAndRefusedJobKeepTheFile) {
  test::WriteFileBytes(in / "label.prn", "data");
  WriteField(kernel->channels[0].printerName, "gone");
  kernel->ScanChannel(0, false);
  EXPECT_TRUE(fs::exists(in / "label.prn"));
  // The channel's cycle ends before the file when its printer cannot be asked for its queue.
  EXPECT_TRUE(Logged("ERROR Couldn't read printer spooler status! Check user privileges."))
      << ::testing::PrintToString(log);

  // A queue that refuses new jobs: the job is not created and the file waits.
  WriteField(kernel->channels[0].printerName, CupsSandbox::kRawQueue);
  ASSERT_EQ(std::system("cupsreject capture"), 0);
  log.clear();
  kernel->ScanChannel(0, false);
  ASSERT_EQ(std::system("cupsaccept capture"), 0);
  EXPECT_TRUE(fs::exists(in / "label.prn"));
  EXPECT_TRUE(Logged("ERROR Couldn't start binary file API-printing on capture"))
      << ::testing::PrintToString(log);
  EXPECT_EQ(cups.ActiveJobs(CupsSandbox::kRawQueue), 0);

  // Accepted again: the next scan prints it.
  kernel->ScanChannel(0, false);
  EXPECT_FALSE(fs::exists(in / "label.prn"));
  EXPECT_EQ(cups.WaitForJobs(CupsSandbox::kRawQueue, 1).size(), 1u);
}

TEST_F(RawDispatchTest, AFileWhoseArchiveIsMissingPrintsOnceAndSaysSoOnce) {
  kernel->sleepMs = [](int32_t) {};
  kernel->channels[0].moveFile = 1;
  WriteField(kernel->channels[0].moveDir, (dir.path() / "no-such-archive").string());
  test::WriteFileBytes(in / "label.prn", "data");
  for (int scan = 0; scan < 10; ++scan) kernel->ScanChannel(0, false);
  EXPECT_EQ(cups.WaitForJobs(CupsSandbox::kRawQueue, 2, std::chrono::seconds(2)).size(), 1u);
  EXPECT_TRUE(fs::exists(in / "label.prn"));
  EXPECT_EQ(Count("ERROR File label.prn was printed but couldn't be moved to "), 1)
      << ::testing::PrintToString(log);
  EXPECT_EQ(Count("File was successfully sent to printer "), 1);

  // Once the archive is there, the next scan moves the file without printing it again.
  fs::create_directory(dir.path() / "no-such-archive");
  kernel->ScanChannel(0, false);
  EXPECT_FALSE(fs::exists(in / "label.prn"));
  EXPECT_TRUE(fs::exists(dir.path() / "no-such-archive" / "label.prn"));
  EXPECT_EQ(cups.CapturedJobs(CupsSandbox::kRawQueue).size(), 1u);
  EXPECT_TRUE(kernel->ledger().entries().empty());
}

TEST_F(RawDispatchTest, NamesSwappedForLinksAndPipesNeverPrintWhatTheyPointAt) {
  // Another channel whose file must still print while the first one is attacked.
  fs::path canaryIn = dir.path() / "canary";
  fs::create_directory(canaryIn);
  PrintChannel canary = kernel->channels[0];
  WriteField(canary.sourceFolder, canaryIn.string());
  kernel->channels = {kernel->channels[0], canary, EmptyChannel()};
  kernel->channelCount = 2;
  test::WriteFileBytes(dir.path() / "secret", "ROOT-ONLY-SECRET");
  chmod((dir.path() / "secret").c_str(), 0600);

  // A helper process puts, again and again, a plain file, a link to the secret or a pipe at
  // the one name, each by an atomic rename.
  const pid_t swapper = fork();
  if (swapper == 0) {
    const std::string target = (in / "x.prn").string(), temp = (in / ".swap").string();
    for (int i = 0;; ++i) {
      unlink(temp.c_str());
      if (i % 3 == 0) {
        if (FILE* f = fopen(temp.c_str(), "w")) {
          fputs("plain", f);
          fclose(f);
        }
      } else if (i % 3 == 1) {
        if (symlink((dir.path() / "secret").c_str(), temp.c_str()) != 0) continue;
      } else {
        if (mkfifo(temp.c_str(), 0666) != 0) continue;
      }
      rename(temp.c_str(), target.c_str());
      usleep(300);
    }
  }
  test::WriteFileBytes(canaryIn / "canary.prn", "CANARY");
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end) {
    kernel->ScanChannel(0, false);
    kernel->ScanChannel(1, false);
  }
  kill(swapper, SIGKILL);
  waitpid(swapper, nullptr, 0);
  EXPECT_FALSE(fs::exists(canaryIn / "canary.prn")) << "the scan loop still serves other channels";

  int canaries = 0;
  for (const auto& job : cups.WaitForJobs(CupsSandbox::kRawQueue, 1)) {
    EXPECT_EQ(job.data.find("SECRET"), std::string::npos) << "a link was followed";
    canaries += job.data.find("CANARY") != std::string::npos;
  }
  EXPECT_GE(canaries, 1);
  EXPECT_TRUE(fs::exists(dir.path() / "secret"));
}

TEST_F(RawDispatchTest, AKillAfterTheJobWasAcceptedNeverPrintsTheFileTwice) {
  test::WriteFileBytes(in / "label.prn", "data");
  // Killed after the print server confirmed the job, before the file was deleted.
  const int status = ScanInChildKilledAt(C_Kernel::DispatchPoint::kPrinted);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  ASSERT_EQ(cups.WaitForJobs(CupsSandbox::kRawQueue, 1).size(), 1u);
  ASSERT_TRUE(fs::exists(in / "label.prn"));

  // The next run disposes of the file instead of printing it again.
  kernel->PruneLedger();
  kernel->CancelIncomingJobs();
  kernel->ScanChannel(0, false);
  EXPECT_FALSE(fs::exists(in / "label.prn"));
  EXPECT_EQ(cups.WaitForJobs(CupsSandbox::kRawQueue, 2, std::chrono::seconds(2)).size(), 1u);
  EXPECT_EQ(Count("File was successfully sent to printer "), 1) << ::testing::PrintToString(log);
}

TEST_F(RawDispatchTest, AKillBeforeTheJobsDataCancelsThatJobAndPrintsOnce) {
  test::WriteFileBytes(in / "label.prn", "data");
  // Killed after the job was created and recorded, before any of its data was sent: the print
  // server holds the job as incoming.
  const int status = ScanInChildKilledAt(C_Kernel::DispatchPoint::kJobCreated);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  ASSERT_EQ(kernel->ledger().Load(nullptr), true);
  ASSERT_EQ(kernel->ledger().entries().size(), 1u);
  const int32_t orphan = kernel->ledger().entries()[0].jobs.at(0).id;

  kernel->CancelIncomingJobs();
  EXPECT_TRUE(cups.WaitForJobState(orphan, IPP_JSTATE_CANCELED));
  kernel->ScanChannel(0, false);
  EXPECT_FALSE(fs::exists(in / "label.prn"));
  auto jobs = cups.WaitForJobs(CupsSandbox::kRawQueue, 2, std::chrono::seconds(2));
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].data,
            "\x1B\x45"
            "data"
            "\x1B%-12345X");
}

TEST_F(RawDispatchTest, APrintServerOutageDuringTheJobKeepsTheFileAndPrintsItOnceAfterwards) {
  test::WriteFileBytes(in / "label.prn", "data");
  bool taken = false;
  kernel->dispatchProbe = [&](C_Kernel::DispatchPoint p) {
    if (p == C_Kernel::DispatchPoint::kJobCreated && !taken) taken = cups.SchedulerDown();
  };
  kernel->ScanChannel(0, false);
  ASSERT_TRUE(taken);
  EXPECT_TRUE(fs::exists(in / "label.prn"));
  EXPECT_EQ(Count("File was successfully sent to printer "), 0);
  EXPECT_GE(Count("ERROR "), 1) << ::testing::PrintToString(log);

  // While the server is away the file waits; once it is back, one job prints it.
  kernel->ScanChannel(0, false);
  EXPECT_TRUE(fs::exists(in / "label.prn"));
  ASSERT_TRUE(cups.SchedulerUp());
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // the printer list's cache
  kernel->ScanChannel(0, false);
  EXPECT_FALSE(fs::exists(in / "label.prn")) << ::testing::PrintToString(log);
  EXPECT_EQ(cups.WaitForJobs(CupsSandbox::kRawQueue, 2, std::chrono::seconds(2)).size(), 1u);
}

}  // namespace
}  // namespace vellumora
