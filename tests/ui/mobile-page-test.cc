// The setup dialog's Snap-Quill page with the real mobile server on loopback and a scripted
// client: the accept-or-decline question, PINs, removal, channel permissions and the ports.
#include <QLabel>
#include <QTest>
#include <filesystem>
#include <set>

#include "kernel/print-channel.h"
#include "kernel/text-fields.h"
#include "mobile/snq-server.h"
#include "mobile/wire-client.h"
#include "ui/desktop-fixture.h"
#include "ui/mobile-page.h"
#include "ui/setup-dialog.h"

namespace vellumora::test {
namespace {

namespace fs = std::filesystem;

class MobilePageTest : public DesktopFixture {
 protected:
  MobilePageTest() {
    for (const char* name : {"Printer", "Office", "Photos"}) {
      const fs::path folder = dir.path() / "in" / name;
      fs::create_directories(folder);
      PrintChannel c = EmptyChannel();
      WriteField(c.sourceFolder, folder.string());
      WriteField(c.printerName, std::string("capture"));
      std::lock_guard lock(kernel->registryLock);
      kernel->channels.insert(kernel->channels.begin() + kernel->channelCount, c);
      ++kernel->channelCount;
    }
    desktop->infoWindow().answerHook = [this](ui::TFormInfo& w) {
      questions.push_back(w.findChild<QLabel*>(QStringLiteral("Label1"))->text());
      return answer;
    };
  }
  ~MobilePageTest() override {
    dialog().DetachMobileServer();
    if (server) server->Stop();
  }

  // The server as the program runs it, on loopback ports of its own.
  void StartServer() {
    SnqServerOptions options;
    options.listenAddress = "127.0.0.1";
    options.ephemeralPorts = true;
    options.idleTimeoutMs = 5000;
    kernel->server = std::make_unique<THREAD_SNQserver>(*kernel, options);
    server = static_cast<THREAD_SNQserver*>(kernel->server.get());
    dialog().AttachMobileServer();
    page().BNsnqSwitch->setChecked(true);
    page().BNsnqSwitchClick();
    server->Start();
    ASSERT_TRUE(PumpUntil([&] { return server->ListeningPortA() != 0; }, 5000));
  }
  void OpenPage() {
    dialog().Open();
    dialog().PageControl1->setCurrentWidget(dialog().TabSheet3);
  }
  // Clients put straight into the registry, as the list files would have them.
  void Seed(const std::vector<ClientRecord>& clients) {
    {
      std::lock_guard lock(kernel->registryLock);
      for (const ClientRecord& c : clients) {
        kernel->clientNames.push_back(c.name);
        kernel->clientPins.push_back(c.pin);
        kernel->clientStates.push_back(c.address);
        kernel->clientChannels.push_back(c.channels);
      }
    }
    page().LoadClients();
  }

  ui::TForm1& dialog() { return desktop->setupDialog(); }
  ui::MobilePage& page() { return *dialog().mobile; }
  QString Cell(int row, int column) {
    QTableWidgetItem* item = page().TABclients->item(row, column);
    return item ? item->text() : QString("<none>");
  }
  std::string File(const char* name) {
    const fs::path p = kernel->dataDir + name;
    return fs::exists(p) ? ReadFileBytes(p) : std::string("<absent>");
  }
  bool Checked(int channelRow) {
    return page().PCMatrix3->item(channelRow, ui::kColAllowed)->checkState() == Qt::Checked;
  }
  // Lets the page's 800 ms timer run `ticks` times.
  void Ticks(int ticks) { PumpUntil([] { return false; }, ticks * 800 + 100); }

  THREAD_SNQserver* server = nullptr;
  char answer = ui::kAnswerNone;
  std::vector<QString> questions;
};

TEST_F(MobilePageTest, ANewClientIsAskedAboutAndYesSendsItsPinWhileItIsConnected) {
  StartServer();
  OpenPage();
  answer = ui::kAnswerYes;
  WireClient phone(server->ListeningPortA());
  ASSERT_TRUE(phone.Send("HelloVellumora Anna's phone#??????"));
  EXPECT_EQ(phone.Line(), "199 Please register through Vellumora");

  // The server's row reaches the table; YES issues a PIN, saved and sent at once.
  ASSERT_TRUE(PumpUntil([&] {
    return StateOfPin(Cell(0, ui::kColPin).toStdString()) == ClientState::kRegistered;
  }));
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0], "Anna's phone likes to be registered as a new Snap-Quill user. Accept?");
  EXPECT_EQ(Cell(0, ui::kColAddress), "127.0.0.1");
  EXPECT_EQ(Cell(0, ui::kColName), "Anna's phone");
  EXPECT_EQ(Cell(0, ui::kColChannels), "1");
  const std::string pin = Cell(0, ui::kColPin).toStdString();
  EXPECT_GE(std::stoi(pin), 100000);
  EXPECT_EQ(File("MobileClientNames.lst").find("Anna's phone"), 0u);
  EXPECT_EQ(File("MobileClientPINs.lst").find(pin), 0u);
  EXPECT_EQ(File("MobileClientChannels.lst").find("1"), 0u);
  EXPECT_EQ(phone.Line(), "201 NewUserData PIN=" + pin + " Channels=1");
  EXPECT_EQ(phone.Line(), "202 VL PrintChannel Names=Printer,Office,Photos");

  ASSERT_TRUE(phone.Send("HelloVellumora Anna's phone#" + pin));
  EXPECT_EQ(phone.Line(), "201 Welcome back 1");
  EXPECT_TRUE(PumpUntil([&] {
    return page().MMmessages->toPlainText().contains("127.0.0.1 => HelloVellumora Anna's phone#" +
                                                     QString::fromStdString(pin));
  }));
  EXPECT_TRUE(PumpUntil([&] { return Find<QLabel>("LBsnq_clients")->text() == "1"; }));
  EXPECT_EQ(questions.size(), 1u);

  // Sending updated settings is a new PIN, sent again.
  ASSERT_TRUE(PumpUntil([&] { return page().BNregisterClient->isEnabled(); }));
  page().BNregisterClient->click();
  const std::string data = phone.Line();
  EXPECT_EQ(data.rfind("201 NewUserData PIN=", 0), 0u) << data;
  EXPECT_EQ(data.substr(20, 6), Cell(0, ui::kColPin).toStdString());
  EXPECT_EQ(File("MobileClientPINs.lst").find(data.substr(20, 6)), 0u);
}

TEST_F(MobilePageTest, NoDeclinesTheClientForGood) {
  StartServer();
  dialog().hide();
  answer = ui::kAnswerNo;
  WireClient phone(server->ListeningPortA());
  ASSERT_TRUE(phone.Send("HelloVellumora Mallory#??????"));
  EXPECT_EQ(phone.Line(), "199 Please register through Vellumora");
  ASSERT_TRUE(PumpUntil([&] { return Cell(0, ui::kColPin) == "000000"; }));
  EXPECT_EQ(File("MobileClientPINs.lst").find("000000"), 0u);
  // The operator is shown whom they declined.
  EXPECT_TRUE(dialog().isVisible());
  EXPECT_EQ(dialog().PageControl1->currentWidget(), dialog().TabSheet3);

  // Asking to be registered again changes nothing.
  ASSERT_TRUE(phone.Send("HelloVellumora Mallory#??????"));
  EXPECT_EQ(phone.Line(), "199 Please register through Vellumora");
  Ticks(2);
  EXPECT_EQ(Cell(0, ui::kColPin), "000000");
  EXPECT_EQ(questions.size(), 1u);
}

TEST_F(MobilePageTest, OnlyAClientWithAKnownAddressIsAskedAboutOrSentItsData) {
  answer = ui::kAnswerYes;
  OpenPage();
  Seed({{"Short address", "???", "1.2.3.4", "1"},
        {"Never seen", "???", "", "1"},
        {"Registered", "654321", "10.0.0.12", "1"}});
  Ticks(2);
  EXPECT_TRUE(questions.empty());
  EXPECT_EQ(Cell(0, ui::kColPin), "???");
  struct Case {
    int row;
    QColor colour;
    bool canSend;
  };
  for (const Case& c : {Case{0, QColor(255, 168, 168), false}, Case{1, QColor(255, 168, 168), false},
                        Case{2, QColor(192, 237, 206), true}}) {
    page().TABclients->selectRow(c.row);
    page().TimerClientsCheckTimer();
    EXPECT_EQ(page().TABclients->item(c.row, ui::kColAddress)->background().color(), c.colour)
        << c.row;
    EXPECT_EQ(page().TABclients->item(c.row, ui::kColName)->background().color(),
              QColor(62, 158, 255));
    EXPECT_EQ(page().BNregisterClient->isEnabled(), c.canSend) << c.row;
  }
  EXPECT_EQ(page().TABclients->item(0, ui::kColName)->background().color(), QColor(234, 234, 234));
}

TEST_F(MobilePageTest, RemovingTheFirstOfThreeKeepsTheOthersInStep) {
  OpenPage();
  Seed({{"First", "111111", "10.0.0.1", "1"},
        {"Second", "222222", "10.0.0.2", "2"},
        {"Third", "???", "", "1,3"}});
  page().TABclients->selectRow(0);
  page().TimerClientsCheckTimer();
  ASSERT_TRUE(page().BNremoveClient->isEnabled());
  page().BNremoveClient->click();

  ASSERT_EQ(page().TABclients->rowCount(), 2);
  const std::vector<std::vector<std::string>> expected = {
      {"10.0.0.2", "Second", "222222", "2"}, {"", "Third", "???", "1,3"}};
  for (int row = 0; row < 2; ++row)
    for (int column = 0; column < 4; ++column)
      EXPECT_EQ(Cell(row, column).toStdString(), expected[row][column]) << row << "," << column;
  std::lock_guard lock(kernel->registryLock);
  EXPECT_EQ(kernel->clientNames, (std::vector<std::string>{"Second", "Third"}));
  EXPECT_EQ(kernel->clientPins, (std::vector<std::string>{"222222", "???"}));
  EXPECT_EQ(kernel->clientStates, (std::vector<std::string>{"10.0.0.2", ""}));
  EXPECT_EQ(kernel->clientChannels, (std::vector<std::string>{"2", "1,3"}));
  EXPECT_EQ(File("MobileClientNames.lst").find("First"), std::string::npos);
  EXPECT_EQ(File("MobileClientNames.lst").find("Second"), 0u);
}

TEST_F(MobilePageTest, TheBoxesShowTheSelectedClientAndAnEditIsWrittenAtOnce) {
  OpenPage();
  Seed({{"Two only", "111111", "10.0.0.1", "2"}, {"One and junk", "222222", "", "1,x,9"}});
  ASSERT_EQ(page().PCMatrix3->rowCount(), 3);
  EXPECT_EQ(page().PCMatrix3->item(1, 1)->text().toStdString(), (dir.path() / "in" / "Office").string());
  EXPECT_TRUE(page().PCMatrix3->isColumnHidden(ui::kColAllowed));  // nothing selected yet

  page().TimerClientsCheckTimer();  // selects the first client
  EXPECT_FALSE(page().PCMatrix3->isColumnHidden(ui::kColAllowed));
  EXPECT_TRUE(!Checked(0) && Checked(1) && !Checked(2));
  // Another client: its boxes only; numbers beyond the channels and text are ignored.
  page().TABclients->selectRow(1);
  EXPECT_TRUE(page().PCMatrix3->isColumnHidden(ui::kColAllowed));
  page().TimerClientsCheckTimer();
  EXPECT_TRUE(Checked(0) && !Checked(1) && !Checked(2));

  page().PCMatrix3->item(2, ui::kColAllowed)->setCheckState(Qt::Checked);
  EXPECT_EQ(Cell(1, ui::kColChannels), "1,3");
  EXPECT_EQ(File("MobileClientChannels.lst").find("2\r\n1,3"), 0u) << File("MobileClientChannels.lst");
  EXPECT_EQ(File("MobileClientNames.lst"), "<absent>");  // only the channels file is written
  std::lock_guard lock(kernel->registryLock);
  EXPECT_EQ(kernel->clientChannels[1], "1,3");
}

TEST_F(MobilePageTest, APortChangeSwitchesTheServerOffAndABadOneFallsBack) {
  {
    std::lock_guard lock(kernel->registryLock);
    kernel->settings.PortA = 20000;
    kernel->settings.Active = true;
  }
  dialog().LoadGeneralSettings();
  EXPECT_EQ(page().SEportA->value(), 20000);
  EXPECT_EQ(page().SEportB->value(), 20001);
  EXPECT_TRUE(page().BNsnqSwitch->isChecked());
  EXPECT_EQ(page().Label86->styleSheet(), "color: #008000;");
  StartServer();
  OpenPage();

  page().SEportA->setValue(15000);
  EXPECT_EQ(page().SEportB->value(), 15001);
  EXPECT_FALSE(page().BNsnqSwitch->isChecked());
  EXPECT_EQ(page().Label86->styleSheet(), "color: #ff0000;");
  EXPECT_TRUE(PumpUntil([&] { return server->ListeningPortA() == 0; }));
  EXPECT_EQ(dialog().ValuesToSave().PortA, 15000);
  EXPECT_FALSE(dialog().ValuesToSave().Active);

  page().BNsnqSwitch->click();
  EXPECT_TRUE(PumpUntil([&] { return server->ListeningPortA() != 0; }));
  EXPECT_TRUE(dialog().ValuesToSave().Active);

  // Typed below the range: not taken, and put back once the typing has stopped long enough.
  page().SEportA->findChild<QLineEdit*>()->selectAll();
  QTest::keyClicks(page().SEportA, "14999");
  EXPECT_EQ(page().SEportA->value(), 14999);
  EXPECT_FALSE(page().BNsnqSwitch->isChecked());
  EXPECT_TRUE(PumpUntil([&] { return server->ListeningPortA() == 0; }));
  page().TimerClientsCheckTimer();
  EXPECT_EQ(page().SEportA->value(), 14999);  // the user may still be typing
  page().portKeyTicks = 7;
  page().TimerClientsCheckTimer();
  EXPECT_EQ(page().SEportA->value(), 51042);
  EXPECT_EQ(page().SEportB->value(), 51043);
  std::lock_guard lock(kernel->registryLock);
  EXPECT_EQ(kernel->settings.PortA, 51042);
  EXPECT_FALSE(kernel->settings.Active);
}

TEST_F(MobilePageTest, TheActivityPanelKeepsEighteenLinesAndADoubleClickEmptiesIt) {
  for (int i = 1; i <= 20; ++i) page().SyncClientPage(QString("line %1").arg(i), false);
  page().SyncClientPage(QString("a\nb"), false);  // a peer's text stays one line
  const QStringList lines = page().MMmessages->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 18);
  EXPECT_EQ(lines.first(), "line 4");
  EXPECT_EQ(lines.last(), "a\\x0Ab");
  QTest::mouseDClick(page().MMmessages->viewport(), Qt::LeftButton);
  EXPECT_TRUE(page().MMmessages->toPlainText().isEmpty());
}

}  // namespace
}  // namespace vellumora::test
