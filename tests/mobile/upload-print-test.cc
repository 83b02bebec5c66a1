// The whole road of an upload: a device registers, is accepted with vellumora-setup, logs in,
// uploads a picture, and the channel prints it through the private print server.
#include <stdio.h>

#include <fstream>
#include <sstream>

#include "mobile/mobile-fixture.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "support/cups-sandbox.h"

namespace vellumora {
namespace {

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

class UploadPrintTest : public test::MobileFixture {};

TEST_F(UploadPrintTest, AcceptedFromTheCommandLineAndPrintedByTheChannel) {
  CupsSandbox& cups = CupsSandbox::Get();
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
  WatermarkBitmap watermark;
  Outputs outputs(*kernel, watermark);
  kernel->output = &outputs;
  kernel->ScanChannel(1, false);
  kernel->output = nullptr;
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

}  // namespace
}  // namespace vellumora
