// The mobile server over real loopback TCP: the registration dialogue, uploads into the
// channels' folders, switching off, and hostile clients.
#include <fstream>

#include "kernel/scan-fixture.h"
#include "mobile/mobile-fixture.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

using test::WireClient;
using namespace std::chrono_literals;

class SnqServerTest : public test::MobileFixture {};

TEST_F(SnqServerTest, NewDeviceIsRegisteredAcceptedAndLogsIn) {
  StartServer();
  EXPECT_TRUE(Logged("Vellumora server (re)started listening to mobile devices on Port " +
                     std::to_string(portA)));
  WireClient a(portA);
  ASSERT_TRUE(a.Send("HelloVellumora Phone#??????"));
  EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
  // Entered as a request with channel 1, written to the list files at once.
  auto clients = server->registry().Snapshot();
  ASSERT_EQ(clients.size(), 1u);
  EXPECT_EQ(clients[0].name, "Phone");
  EXPECT_EQ(clients[0].pin, "???");
  EXPECT_EQ(clients[0].channels, "1");
  EXPECT_EQ(clients[0].address, "127.0.0.1");
  EXPECT_EQ(test::ReadFileBytes(sandbox.path() / "Vellumora/MobileClientNames.lst"), "Phone\r\n");
  EXPECT_EQ(test::ReadFileBytes(sandbox.path() / "Vellumora/MobileClientPINs.lst"), "???\r\n");

  // Accepted while connected: the new user data, then the channel names from the folders.
  ASSERT_TRUE(server->registry().IssueNewPin(0));
  const std::string data = a.Line();
  ASSERT_EQ(data.rfind("201 NewUserData PIN=", 0), 0u) << data;
  const std::string pin = data.substr(20, 6);
  EXPECT_EQ(data, "201 NewUserData PIN=" + pin + " Channels=1");
  EXPECT_GE(std::stoi(pin), 100000);
  EXPECT_EQ(a.Line(), "202 VL PrintChannel Names=Printer,Office");

  // A PIN from 100000 to 999999, never the same twice in a row of quick issues.
  std::vector<std::string> pins;
  for (int i = 0; i < 20; ++i) pins.push_back(NewPin());
  std::sort(pins.begin(), pins.end());
  EXPECT_LT(std::unique(pins.begin(), pins.end()) - pins.begin(), 21);
  EXPECT_GT(std::unique(pins.begin(), pins.end()) - pins.begin(), 15);

  struct Case {
    std::string line;
    std::string answer;
    std::string pinAfter;
  };
  const std::vector<Case> cases = {
      {"HelloVellumora Phone#" + pin, "201 Welcome back 1", pin},
      {"  HelloVellumora PHONE#" + pin + "\t", "201 Welcome back 1", pin},  // any letter case
      {"HelloVellumora Phone#" + std::string(pin == "123456" ? "654321" : "123456"),
       "199 Please register through Vellumora", pin},  // wrong PIN: stored PIN unchanged
      {"HelloVellumora Phone", "199 Please register through Vellumora", pin},        // no "#"
      {"HelloVellumora Phone#???", "199 Please register through Vellumora", "???"},  // again
      {"HelloVellumora X#???", "199 Please register through Vellumora", "???"},      // too short
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(a.Send(c.line));
    EXPECT_EQ(a.Line(), c.answer);
    EXPECT_EQ(server->registry().Snapshot().at(0).pin, c.pinAfter);
  }
  EXPECT_EQ(server->registry().Snapshot().size(), 1u) << "a one-character name is never entered";

  // Declined stays declined, whatever the client sends.
  ASSERT_TRUE(server->registry().Decline(0));
  for (const std::string& p : {pin, std::string("???"), std::string("000000")}) {
    ASSERT_TRUE(a.Send("HelloVellumora Phone#" + p));
    EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
    EXPECT_EQ(server->registry().Snapshot().at(0).pin, "000000");
  }
  // Lines that are not part of the dialogue get no answer; "quit" in any case closes.
  ASSERT_TRUE(a.Send("Hello"));
  ASSERT_TRUE(a.Send("quit"));
  EXPECT_EQ(a.Line(), "100 Connection to be closed");
  EXPECT_TRUE(a.ClosedWithin(2000));
}

TEST_F(SnqServerTest, UploadLandsInTheNamedChannelAndNeverReplacesAFile) {
  StartServer();
  LogIn("Phone", "1,2");
  const std::string picture(300'000, 'p');
  EXPECT_EQ(Upload("Office", "pic.jpg", picture), "200 File pic.jpg completed");
  EXPECT_EQ(test::ReadFileBytes(officeFolder / "pic.jpg"), picture);
  // The same name again: the first upload may not be printed yet, so it stays.
  EXPECT_EQ(Upload("Office", "pic.jpg", "second"), "200 File pic.jpg completed");
  EXPECT_EQ(Upload("Office", "pic.jpg", "third"), "200 File pic.jpg completed");
  EXPECT_EQ(FilesIn(officeFolder),
            (std::vector<std::string>{"pic (2).jpg", "pic (3).jpg", "pic.jpg"}));
  EXPECT_EQ(test::ReadFileBytes(officeFolder / "pic (2).jpg"), "second");

  // Several files on one connection; "FileIsNext CH[" without "]" changes nothing, and the
  // bytes may come in the same packet as the size line.
  WireClient b(portB);
  b.Send("FileIsNext CH[ Printer ] one.png");
  b.Send("FileIsNext CH[Office two.png");
  b.SendRaw("FileSize 3\r\nabc");
  EXPECT_EQ(b.Line(), "200 OK Waiting for file transfer ...");
  EXPECT_EQ(b.Line(), "200 File one.png completed");
  b.Send("FileIsNext CH[Printer] two.png");
  b.Send("FileSize 2");
  EXPECT_EQ(b.Line(), "200 OK Waiting for file transfer ...");
  b.SendRaw("xy");
  EXPECT_EQ(b.Line(), "200 File two.png completed");
  EXPECT_EQ(FilesIn(printerFolder), (std::vector<std::string>{"one.png", "two.png"}));
  EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
}

TEST_F(SnqServerTest, AnUploadInProgressIsNeverSeenByAScan) {
  StartServer();
  LogIn();
  WireClient b(portB);
  b.Send("FileIsNext CH[Printer] big.prn");
  b.Send("FileSize 1000");
  ASSERT_EQ(b.Line(), "200 OK Waiting for file transfer ...");
  b.SendRaw(std::string(500, 'x'));
  // Half of it is there, under the hidden name; a scan with raw printing on takes nothing.
  std::vector<std::string> names;
  for (int i = 0; i < 100 && names.empty(); ++i) {
    std::this_thread::sleep_for(10ms);
    names = FilesIn(printerFolder);
  }
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].rfind(".vellumora-upload-", 0), 0u);
  test::FakeOutput output(*kernel);
  kernel->output = &output;
  kernel->settings.NoRawFilePrinting = false;
  kernel->ScanChannel(0, false);
  EXPECT_EQ(output.prepareCalls, 0) << "the scan took a file";
  EXPECT_TRUE(output.calls.empty());
  kernel->output = nullptr;

  // Cut after half the bytes: nothing stays behind, and the server serves others.
  b.Close();
  for (int i = 0; i < 200 && !FilesIn(printerFolder).empty(); ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(FilesIn(printerFolder), std::vector<std::string>{});
  EXPECT_TRUE(Logged("ERROR Mobile upload from 127.0.0.1 cut short: big.prn, 500 of 1000 bytes"));
  EXPECT_EQ(Upload("Printer", "next.prn", "ok"), "200 File next.prn completed");
}

TEST_F(SnqServerTest, SwitchingOffClosesEveryConnectionOfBothPorts) {
  StartServer();
  WireClient a1(portA), a2(portA), b(portB);
  a1.Send("HelloVellumora Phone#??????");
  ASSERT_EQ(a1.Line(), "199 Please register through Vellumora");
  a2.Send("HelloVellumora Other#??????");
  ASSERT_EQ(a2.Line(), "199 Please register through Vellumora");
  Switch(false);
  EXPECT_EQ(a1.Line(), "100 Connection to be closed");
  EXPECT_EQ(a2.Line(), "100 Connection to be closed");
  EXPECT_TRUE(a1.ClosedWithin(2000));
  EXPECT_TRUE(a2.ClosedWithin(2000));
  EXPECT_TRUE(b.ClosedWithin(2000));
  for (int i = 0; i < 100 && server->ListeningPortA() != 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(Logged("Vellumora server stopped listening to mobile devices"));
  EXPECT_FALSE(WireClient(portA).connected());
  // On again, on a new pair of ports.
  Switch(true);
  for (int i = 0; i < 100 && server->ListeningPortA() == 0; ++i) std::this_thread::sleep_for(10ms);
  WireClient again(server->ListeningPortA());
  again.Send("HelloVellumora Phone#??????");
  EXPECT_EQ(again.Line(), "199 Please register through Vellumora");
  // Terminating ends the server with its connections.
  server->Stop();
  EXPECT_TRUE(again.ClosedWithin(2000));
  EXPECT_TRUE(Logged("Vellumora server terminated"));
}

// ---- Hostile uploads: refused before a byte is written, the connection closed ----

struct HostileUpload {
  const char* what;
  bool logIn;
  std::string channel;
  std::string name;
  std::string size;
  const char* refusal;  // start of the log line; nullptr: stored under `stored`
  const char* stored;
};

class HostileUploadTest : public test::MobileFixture,
                          public ::testing::WithParamInterface<HostileUpload> {};

TEST_P(HostileUploadTest, NothingLandsOutsideTheChannelFolders) {
  const HostileUpload& c = GetParam();
  options.freeBytes = [](const std::string&) -> int64_t { return 200LL << 20; };
  StartServer();
  if (c.logIn) LogIn("Phone", "1");  // Printer only
  WireClient b(portB);
  b.Send("FileIsNext CH[" + c.channel + "] " + c.name);
  b.Send("FileSize " + c.size);
  if (c.refusal) {
    EXPECT_TRUE(b.ClosedWithin(2000)) << "no 200 OK, the connection closed";
    EXPECT_TRUE(Logged(c.refusal)) << ::testing::PrintToString(Log());
    EXPECT_EQ(FilesIn(printerFolder), std::vector<std::string>{});
    EXPECT_EQ(FilesIn(officeFolder), std::vector<std::string>{});
  } else {
    ASSERT_EQ(b.Line(), "200 OK Waiting for file transfer ...");
    b.SendRaw(std::string(std::stoul(c.size), 'z'));
    EXPECT_EQ(b.Line(), "200 File " + c.name + " completed");
    const auto files = FilesIn(printerFolder);
    ASSERT_EQ(files.size(), 1u);
    if (c.stored)
      EXPECT_EQ(files[0], c.stored);
    else
      EXPECT_EQ(files[0].rfind("upload-", 0), 0u) << files[0];
  }
  EXPECT_EQ(StrayFiles(), std::vector<std::string>{});
  // The server serves the next client throughout.
  WireClient a(portA);
  a.Send("HelloVellumora Someone#??????");
  EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileUploadTest,
    ::testing::Values(
        HostileUpload{"no login", false, "Printer", "a.jpg", "10",
                      "ERROR Mobile upload from 127.0.0.1 refused: no login", nullptr},
        HostileUpload{"channel not allowed", true, "Office", "a.jpg", "10",
                      "ERROR Mobile upload from 127.0.0.1 refused: channel Office is not one of",
                      nullptr},
        HostileUpload{"no such channel", true, "Nowhere", "a.jpg", "10",
                      "ERROR Mobile upload from 127.0.0.1 refused: channel Nowhere matches no",
                      nullptr},
        HostileUpload{"empty channel", true, "", "a.jpg", "10",
                      "ERROR Mobile upload from 127.0.0.1 refused: no channel named", nullptr},
        HostileUpload{"larger than the disk", true, "Printer", "a.jpg", "209715200",
                      "ERROR Mobile upload from 127.0.0.1 refused: announced size 209715200 bytes "
                      "does not fit",
                      nullptr},
        HostileUpload{"above the limit", true, "Printer", "a.jpg", "600000000",
                      "ERROR Mobile upload from 127.0.0.1 refused: announced size", nullptr},
        HostileUpload{"path upwards", true, "Printer", "../../etc/x", "5", nullptr, "x"},
        HostileUpload{"backslashes", true, "Printer", "a\\b\\..\\c.jpg", "5", nullptr, "c.jpg"},
        HostileUpload{"control characters", true, "Printer", "ev\x01il\x7F.jpg", "5", nullptr,
                      "evil.jpg"},
        HostileUpload{"hidden name", true, "Printer", "..", "5", nullptr, nullptr},
        HostileUpload{"hidden temp name", true, "Printer", ".vellumora-upload-x", "5", nullptr,
                      "vellumora-upload-x"}),
    [](const ::testing::TestParamInfo<HostileUpload>& param) {
      std::string n = param.param.what;
      std::replace(n.begin(), n.end(), ' ', '_');
      return n;
    });

TEST_F(SnqServerTest, AnEmptyNameIsStoredUnderATimeStamp) {
  kernel->localClock = [] { return LocalTime{2026, 3, 4, 5, 6, 7, 89, 2}; };
  StartServer();
  LogIn();
  EXPECT_EQ(Upload("Printer", "/", "abc"), "200 File / completed");
  EXPECT_EQ(FilesIn(printerFolder), std::vector<std::string>{"upload-20260304050607089"});
}

TEST_F(SnqServerTest, ASizeThatIsNoNumberReadsNothing) {
  StartServer();
  LogIn();
  WireClient b(portB);
  b.Send("FileIsNext CH[Printer] a.prn");
  for (const char* size : {"FileSize abc", "FileSize 0", "FileSize -5"}) {
    b.Send(size);
    EXPECT_EQ(b.Line(500), "<timeout>") << size;
  }
  // The connection is still in line mode: the next announcement works.
  b.Send("FileSize 2");
  EXPECT_EQ(b.Line(), "200 OK Waiting for file transfer ...");
  b.SendRaw("ok");
  EXPECT_EQ(b.Line(), "200 File a.prn completed");
  EXPECT_EQ(FilesIn(printerFolder), std::vector<std::string>{"a.prn"});
}

TEST_F(SnqServerTest, ConnectionLimitsLongLinesAndSilentClients) {
  options.idleTimeoutMs = 3000;
  StartServer();
  // 40 connections: 32 are served, the others closed at once.
  std::vector<std::unique_ptr<WireClient>> many;
  for (int i = 0; i < 40; ++i) many.push_back(std::make_unique<WireClient>(portA));
  std::this_thread::sleep_for(300ms);
  int closed = 0;
  for (auto& c : many) closed += c->ClosedWithin(10) ? 1 : 0;
  EXPECT_EQ(closed, 8);
  EXPECT_TRUE(Logged("ERROR Mobile client 127.0.0.1 refused on Port"));
  many.clear();

  // A 100 kB line ends its connection; others go on.
  WireClient longLine(portA);
  longLine.SendRaw(std::string(100'000, 'H'));
  EXPECT_TRUE(longLine.ClosedWithin(2000));
  EXPECT_TRUE(Logged("ERROR Mobile client 127.0.0.1: line longer than 1024 bytes"));
  // A client that never sends is closed after the idle time-out (3 s here).
  WireClient silent(portB);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(silent.ClosedWithin(6000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2s);
  WireClient a(portA);
  a.Send("HelloVellumora Phone#??????");
  EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
}

TEST_F(SnqServerTest, WrongPinsLockTheAddressOutForAWhile) {
  StartServer();
  WireClient a(portA);
  const std::string pin = RegisterAndAccept(a, "Phone");
  const std::string wrong = pin == "111111" ? "222222" : "111111";
  for (int i = 0; i < 5; ++i) {
    a.Send("HelloVellumora Phone#" + wrong);
    EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
  }
  // The sixth hello is refused without a look at the registry, even with the right PIN.
  a.Send("HelloVellumora Phone#" + pin);
  EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
  a.Send("HelloVellumora Newcomer#??????");
  EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
  EXPECT_EQ(server->registry().Find("Newcomer"), -1);
  EXPECT_TRUE(Logged("ERROR Mobile client 127.0.0.1: 5 wrong PINs"));
  // After the lock-out (0.8 s here) the right PIN logs in again.
  std::this_thread::sleep_for(900ms);
  a.Send("HelloVellumora Phone#" + pin);
  EXPECT_EQ(a.Line(), "201 Welcome back 1");
}

TEST_F(SnqServerTest, LoginWindowAndRemovalEndUploads) {
  options.loginWindowMs = 500;
  StartServer();
  LogIn("Phone", "1");
  EXPECT_EQ(Upload("Printer", "a.prn", "1"), "200 File a.prn completed");
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(Upload("Printer", "b.prn", "1"), "<closed>");
  EXPECT_TRUE(Logged("ERROR Mobile upload from 127.0.0.1 refused: no login"));
}

}  // namespace
}  // namespace vellumora
