// Proves the private CUPS scheduler behaves as the printing tests rely on: byte-exact capture,
// the driver queue's A4 default, jobs held by a paused queue and jobs cancelled mid-print.
#include "support/cups-sandbox.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>

namespace vellumora {
namespace {

using namespace std::chrono_literals;
using test::CupsSandbox;

// Submits one raw document the way a hot folder does; returns the job ID, 0 on failure.
int SubmitRaw(const char* queue, const char* title, std::string_view bytes) {
  int job = cupsCreateJob(CUPS_HTTP_DEFAULT, queue, title, 0, nullptr);
  if (job == 0) {
    ADD_FAILURE() << "cupsCreateJob(" << queue << "): " << cupsLastErrorString();
    return 0;
  }
  if (cupsStartDocument(CUPS_HTTP_DEFAULT, queue, job, "document", CUPS_FORMAT_RAW, 1) !=
          HTTP_STATUS_CONTINUE ||
      cupsWriteRequestData(CUPS_HTTP_DEFAULT, bytes.data(), bytes.size()) != HTTP_STATUS_CONTINUE ||
      cupsFinishDocument(CUPS_HTTP_DEFAULT, queue) != IPP_STATUS_OK) {
    ADD_FAILURE() << "sending job " << job << " to " << queue << ": " << cupsLastErrorString();
    return 0;
  }
  return job;
}

// Every byte value, with the NUL, ESC and CR LF sequences a careless path would translate first.
std::string AwkwardBytes() {
  std::string bytes("\x1b@\0\r\n\x1b(s3B\r\n\0\0", 13);
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  return bytes;
}

TEST(CupsSandboxTest, RawJobArrivesByteExactWithItsTitle) {
  auto& cups = CupsSandbox::Get();
  const std::string bytes = AwkwardBytes();
  for (const char* queue : {CupsSandbox::kRawQueue, CupsSandbox::kPostScriptQueue}) {
    SCOPED_TRACE(queue);
    const std::string title = std::string("Ticket ") + queue + " 1/2";
    int job = SubmitRaw(queue, title.c_str(), bytes);
    ASSERT_NE(job, 0);
    auto jobs = cups.WaitForJobs(queue, 1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].id, job);
    EXPECT_EQ(jobs[0].data, bytes);
    EXPECT_EQ(jobs[0].Info("title"), title);
    EXPECT_EQ(jobs[0].Info("content-type"), CUPS_FORMAT_RAW);
  }
}

TEST(CupsSandboxTest, PostScriptQueueDefaultsToA4) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, CupsSandbox::kPostScriptQueue, nullptr);
  ASSERT_NE(dest, nullptr) << cupsLastErrorString();
  cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
  ASSERT_NE(info, nullptr) << cupsLastErrorString();

  ipp_attribute_t* media = cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "media");
  ASSERT_NE(media, nullptr);
  const char* name = ippGetString(media, 0, nullptr);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "iso_a4_210x297mm");
  cups_size_t size{};
  ASSERT_TRUE(
      cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, dest, info, name, CUPS_MEDIA_FLAGS_DEFAULT, &size));
  EXPECT_EQ(size.width, 20990);
  EXPECT_EQ(size.length, 29704);

  cupsFreeDestInfo(info);
  cupsFreeDests(1, dest);
}

TEST(CupsSandboxTest, PausedQueueKeepsTheJobUntilResumed) {
  auto& cups = CupsSandbox::Get();
  ASSERT_TRUE(cups.PauseQueue(CupsSandbox::kRawQueue));
  int job = SubmitRaw(CupsSandbox::kRawQueue, "held", "held job");
  ASSERT_NE(job, 0);
  EXPECT_EQ(cups.ActiveJobs(CupsSandbox::kRawQueue), 1);
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(cups.CapturedJobs(CupsSandbox::kRawQueue).empty());

  ASSERT_TRUE(cups.ResumeQueue(CupsSandbox::kRawQueue));
  auto jobs = cups.WaitForJobs(CupsSandbox::kRawQueue, 1);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].data, "held job");
  EXPECT_TRUE(cups.WaitForActiveJobs(CupsSandbox::kRawQueue, 0));
}

TEST(CupsSandboxTest, DelayedJobCanBeCancelledWhilePrinting) {
  auto& cups = CupsSandbox::Get();
  cups.SetDelay(CupsSandbox::kRawQueue, 30s);
  int job = SubmitRaw(CupsSandbox::kRawQueue, "slow", "slow job");
  ASSERT_NE(job, 0);
  ASSERT_TRUE(cups.WaitForJobState(job, IPP_JSTATE_PROCESSING));

  ASSERT_EQ(cupsCancelJob2(CUPS_HTTP_DEFAULT, CupsSandbox::kRawQueue, job, 0), IPP_STATUS_OK)
      << cupsLastErrorString();
  EXPECT_TRUE(cups.WaitForJobState(job, IPP_JSTATE_CANCELED, 2s));
  EXPECT_TRUE(cups.CapturedJobs(CupsSandbox::kRawQueue).empty());
}

}  // namespace
}  // namespace vellumora
