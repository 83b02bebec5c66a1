// A raw file from the channel's folder to the print queue and out of the folder: the scan,
// the dispatcher and raw printing together, against the private print server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

}  // namespace
}  // namespace vellumora
