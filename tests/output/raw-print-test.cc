// Raw printing: the control code notation, and files sent byte-exact to a real print queue.
#include "output/raw-print.h"

#include <gtest/gtest.h>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/outputs-fixture.h"
#include "output/outputs.h"
#include "support/cups-sandbox.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

using test::CupsSandbox;

TEST(ControlCodes, Notation) {
  struct Case {
    const char* code;
    std::string bytes;
  };
  const Case cases[] = {
      {"[27]E",
       "\x1B"
       "E"},
      {"[27", ""},  // no closing bracket voids the whole code
      {"A[27", ""},
      {"A[0]B", "A"},     // sent up to the first zero byte
      {"[300]", "\x2C"},  // low 8 bits
      {"[ESC]", ""},      // no digits: the number 0, and nothing is sent
      {"[13][10]", "\r\n"},
      {"[ 7]x[-1]", std::string("\x07x\xFF")},
      // Numbers beyond any integer type: their low 8 bits, without overflow.
      {"[99999999999999999999]", "\xFF"},
      {"A[-9223372036854775807]", "A\x01"},
      {"A[-9223372036854775808]B", "A"},
      {"plain", "plain"},
      {"", ""},
  };
  for (const auto& tc : cases) EXPECT_EQ(ExpandControlCodes(tc.code), tc.bytes) << tc.code;
}

class RawPrintTest : public test::OutputsFixture {
 protected:
  std::string File(const std::string& name, const std::string& bytes) {
    auto path = (dir.path() / name).string();
    test::WriteFileBytes(path, bytes);
    return path;
  }
  OutputReport Print(const std::string& path, const std::string& printer, int32_t copies) {
    return outputs->PrintRawFile(Job(path, printer, copies));
  }

  CupsSandbox& cups = CupsSandbox::Get();
};

TEST_F(RawPrintTest, CopiesArriveByteExactFramedByTheCodes) {
  WriteField(kernel->currentChannel.startCode, "[27]E");
  WriteField(kernel->currentChannel.stopCode, "[12]");
  std::string data;
  for (int i = 0; i < 10000; ++i) data.push_back(static_cast<char>(i * 7));  // one full buffer
  const OutputReport report = Print(File("a.prn", data), CupsSandbox::kRawQueue, 3);
  EXPECT_EQ(report.result, OutputResult::kPrinted) << report.message;
  EXPECT_EQ(created.size(), 3u);

  auto jobs = cups.WaitForJobs(CupsSandbox::kRawQueue, 3);
  ASSERT_EQ(jobs.size(), 3u);
  for (const auto& job : jobs) {
    EXPECT_EQ(job.data, "\x1B\x45" + data + "\f");
    EXPECT_EQ(job.Info("title"), "Vellumora File");
  }
}

TEST_F(RawPrintTest, LargeFileIsStreamedWhole) {
  std::string data(10 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < data.size(); i += 4093) data[i] = static_cast<char>(i);
  EXPECT_EQ(Print(File("big.prn", data), CupsSandbox::kRawQueue, 1).result, OutputResult::kPrinted);
  auto jobs = cups.WaitForJobs(CupsSandbox::kRawQueue, 1, std::chrono::seconds(30));
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_TRUE(jobs[0].data == data) << "sizes " << jobs[0].data.size() << " vs " << data.size();
}

TEST_F(RawPrintTest, FailuresNameThePrinterAndSendNothing) {
  const std::string path = File("a.prn", "data");
  OutputReport report = Print(path, "no-such-printer", 3);
  EXPECT_EQ(report.result, OutputResult::kRetry);
  EXPECT_EQ(report.message, "ERROR while API-opening the printer no-such-printer");

  // A file that cannot be read fails the job instead of sending what was read so far.
  OutputJob job = Job(path, CupsSandbox::kRawQueue, 1);
  files.emplace_back(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  job.fd = files.back().get();
  report = outputs->PrintRawFile(job);
  EXPECT_EQ(report.result, OutputResult::kRetry);
  EXPECT_EQ(report.message,
            "ERROR while binary file API-printing on capture: the file could not be read");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_TRUE(cups.WaitForJobState(created[0], IPP_JSTATE_CANCELED));
  EXPECT_EQ(cups.CapturedJobs(CupsSandbox::kRawQueue).size(), 0u);
}

TEST_F(RawPrintTest, StopBeforeTheFirstCopyKeepsTheFileUnprinted) {
  const std::string path = File("a.prn", "data");
  stopRequested = 1;
  EXPECT_EQ(Print(path, CupsSandbox::kRawQueue, 2).result, OutputResult::kStopped);
  stopRequested = 0;
  EXPECT_TRUE(created.empty());
}

}  // namespace
}  // namespace vellumora
