// The whole road of an upload: a device registers, is accepted with vellumora-setup, logs in,
// uploads a picture, and the channel prints it through the private print server; and which
// channels take uploads at all.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "mobile/mobile-fixture.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "support/cups-sandbox.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::CupsSandbox;
using test::WireClient;
using namespace std::chrono_literals;

// Runs vellumora-setup on the sandbox's data directory; its standard output.
std::string RunSetup(const std::string& args, int* status) {
  const std::string command = std::string(VELLUMORA_SETUP_TOOL) + " " + args;
  FILE* p = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[512];
  while (p && std::fgets(buffer, sizeof buffer, p)) out += buffer;
  *status = p ? ::pclose(p) : -1;
  return out;
}

// Both channels print to the private print server's raw queue through the real outputs, which
// the server also asks whether a channel's printer exists.
class UploadPrintTest : public test::MobileFixture {
 protected:
  UploadPrintTest() : cups(CupsSandbox::Get()) {
    for (int32_t i = 0; i < kernel->channelCount; ++i)
      WriteField(kernel->channels[i].printerName, CupsSandbox::kRawQueue);
    outputs = std::make_unique<Outputs>(*kernel, watermark);
    kernel->output = outputs.get();
  }
  ~UploadPrintTest() override {
    if (server) server->Stop();
    kernel->output = nullptr;
  }

  CupsSandbox& cups;
  WatermarkBitmap watermark;
  std::unique_ptr<Outputs> outputs;
};

TEST_F(UploadPrintTest, AcceptedFromTheCommandLineAndPrintedByTheChannel) {
  ASSERT_TRUE(kernel->SaveSettings(false));  // vellumora-setup sees the same channels
  options.idleTimeoutMs = 30'000;            // the device waits for its acceptance
  StartServer();
  WireClient a(portA);
  ASSERT_TRUE(a.Send("HelloVellumora Field Phone#??????"));
  ASSERT_EQ(a.Line(), "199 Please register through Vellumora");

  int status = 0;
  std::string listed = RunSetup("clients list", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(listed.find("Field Phone"), std::string::npos) << listed;
  EXPECT_NE(listed.find("requested"), std::string::npos) << listed;
  EXPECT_NE(listed.find("127.0.0.1"), std::string::npos) << listed;
  const std::string accepted = RunSetup("clients accept 'field phone' --channels 2", &status);
  ASSERT_EQ(status, 0) << accepted;

  // The running server reads the changed lists and sends the PIN to the connected device.
  const std::string data = a.Line(8000);
  ASSERT_EQ(data.rfind("201 NewUserData PIN=", 0), 0u) << data;
  const std::string pin = data.substr(20, 6);
  EXPECT_EQ(data, "201 NewUserData PIN=" + pin + " Channels=2");
  EXPECT_NE(accepted.find("PIN " + pin), std::string::npos) << accepted;
  EXPECT_EQ(a.Line(), "202 VL PrintChannel Names=Printer,Office");
  a.Send("HelloVellumora Field Phone#" + pin);
  ASSERT_EQ(a.Line(), "201 Welcome back 2");

  std::ifstream in(std::string(VELLUMORA_TEST_DATA) + "/pictures/orientation-3.jpg",
                   std::ios::binary);
  std::stringstream picture;
  picture << in.rdbuf();
  ASSERT_GT(picture.str().size(), 100u);
  EXPECT_EQ(Upload("Office", "holiday.jpg", picture.str()), "200 File holiday.jpg completed");
  EXPECT_EQ(FilesIn(officeFolder), std::vector<std::string>{"holiday.jpg"});

  // The channel's scan prints it and disposes of it.
  kernel->ScanChannel(1, false);
  auto jobs = cups.WaitForJobs(CupsSandbox::kRawQueue, 1);
  ASSERT_EQ(jobs.size(), 1u) << ::testing::PrintToString(Log());
  EXPECT_EQ(jobs[0].Info("title"), "Vellumora: holiday.jpg");
  EXPECT_EQ(jobs[0].data.rfind("%PDF", 0), 0u);
  EXPECT_EQ(FilesIn(officeFolder), std::vector<std::string>{});

  // Declined from the command line: the next hello is refused.
  ASSERT_EQ(RunSetup("clients decline 'Field Phone'", &status).empty(), false);
  for (int i = 0; i < 300; ++i) {
    if (server->registry().Snapshot().at(0).pin == "000000") break;
    std::this_thread::sleep_for(10ms);
  }
  a.Send("HelloVellumora Field Phone#" + pin);
  EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
}

// An upload goes only into a channel that prints what lands there. An inactive channel, or one
// whose printer the print server does not know, is refused like a channel that matches no
// folder, before a byte is written; a later channel of the same text that prints takes the file.
TEST_F(UploadPrintTest, UploadsGoOnlyIntoChannelsThatPrint) {
  const fs::path in = sandbox.path() / "in";
  AddChannel(in / "Paused", CupsSandbox::kRawQueue, false);      // 3
  AddChannel(in / "Ghost", "no-such-queue");                     // 4
  AddChannel(in / "Shared-old", CupsSandbox::kRawQueue, false);  // 5: matches "Shared" first
  AddChannel(in / "Shared", CupsSandbox::kRawQueue);             // 6
  StartServer();
  LogIn("Phone", "1,2,3,4,5,6");

  struct Case {
    const char* channel;
    const char* refusal;  // the log line's reason; nullptr: stored in `folder`
    fs::path folder;
  };
  const Case cases[] = {
      {"Paused", "channel Paused is not active", in / "Paused"},
      {"Ghost", "channel Ghost prints to a printer that does not exist (no-such-queue)",
       in / "Ghost"},
      {"Printer", nullptr, printerFolder},
      {"Shared", nullptr, in / "Shared"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channel);
    const std::string answer = Upload(c.channel, "photo.jpg", "jpeg bytes");
    if (c.refusal) {
      EXPECT_EQ(answer, "<closed>") << "no 200 OK";
      EXPECT_TRUE(Logged("ERROR Mobile upload from 127.0.0.1 refused: " + std::string(c.refusal)))
          << ::testing::PrintToString(Log());
      EXPECT_EQ(FilesIn(c.folder), std::vector<std::string>{});
      continue;
    }
    EXPECT_EQ(answer, "200 File photo.jpg completed");
    ASSERT_EQ(FilesIn(c.folder), std::vector<std::string>{"photo.jpg"});
    // Written as this process's own account, never handed to another one afterwards.
    struct stat st {};
    ASSERT_EQ(lstat((c.folder / "photo.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
  EXPECT_EQ(FilesIn(in / "Shared-old"), std::vector<std::string>{});
  EXPECT_EQ(FilesIn(officeFolder), std::vector<std::string>{});
}

}  // namespace
}  // namespace vellumora
