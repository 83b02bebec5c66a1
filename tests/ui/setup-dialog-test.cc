// The setup dialog driven offscreen by object name: saving the general page, the page rules
// while scanning, the service panel against the systemd stand-in, and the hover help.
#include "ui/setup-dialog.h"

#include <QCheckBox>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <filesystem>
#include <fstream>
#include <set>

#include "support/systemd-stand-in.h"
#include "ui/control-hints.h"
#include "ui/desktop-fixture.h"
#include "ui/general-page.h"
#include "ui/help-panel.h"
#include "ui/service-panel.h"

namespace vellumora::test {
namespace {

namespace fs = std::filesystem;

class SetupDialogTest : public DesktopFixture {
 protected:
  ui::TForm1& dialog() { return desktop->setupDialog(); }
  template <typename T = QWidget>
  T* InDialog(const char* name) {
    T* w = dialog().findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string Ini() { return ReadFileBytes(kernel->dataDir + "Vellumora.ini"); }
  void Hover(QWidget* widget) {
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QCoreApplication::sendEvent(widget, &enter);
  }
};

TEST_F(SetupDialogTest, TheSetupButtonOpensTheChannelPageAndClosingKeepsTheEdits) {
  auto* setup = Find<QPushButton>("BNsetup");
  ASSERT_TRUE(setup->isEnabled());
  setup->click();
  EXPECT_TRUE(dialog().isVisible());
  EXPECT_EQ(dialog().windowTitle(), "Vellumora Setup");
  EXPECT_EQ(dialog().PageControl1->currentWidget(), dialog().TabSheet2);
  const QStringList captions{"General setup", "Print channel settings",
                             "Print channel page layout settings (optional)",
                             "Snap-Quill system setup"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dialog().PageControl1->tabText(i), captions[i]);

  InDialog<QSpinBox>("SEmaxCPUload")->setValue(60);
  EXPECT_TRUE(dialog().settingsChanged);
  const std::string before = Ini();
  dialog().close();
  EXPECT_FALSE(dialog().isVisible());
  EXPECT_EQ(Ini(), before);  // closing saves nothing
  setup->click();
  EXPECT_EQ(InDialog<QSpinBox>("SEmaxCPUload")->value(), 60);
  EXPECT_TRUE(dialog().settingsChanged);

  // Status lines of the kernel reach the dialog's status bar.
  kernel->Log("A line for the status bar");
  EXPECT_TRUE(PumpUntil([&] {
    return InDialog<QLabel>("StatusBar1")->text().contains("A line for the status bar");
  }));
}

TEST_F(SetupDialogTest, AGeneralEditIsWrittenOnceAtTheNextPageChange) {
  dialog().Open();
  dialog().PageControl1->setCurrentWidget(dialog().TabSheet1);
  ASSERT_FALSE(dialog().settingsChanged);
  InDialog<QCheckBox>("CBlogTime")->click();
  InDialog<QCheckBox>("CBsortByDate")->click();
  InDialog<QSpinBox>("SElogMaxSize")->setValue(2050);
  InDialog<QLineEdit>("EDdefaultPrintFolder")->setText("/srv/print");
  ASSERT_TRUE(dialog().settingsChanged);
  EXPECT_NE(Ini().find("LogTime=0"), std::string::npos);  // nothing written yet

  dialog().PageControl1->setCurrentWidget(dialog().TabSheet2);
  EXPECT_FALSE(dialog().settingsChanged);
  C_Kernel reread(dir.path().string() + "/");
  reread.ReadSettings(false);
  EXPECT_TRUE(reread.settings.LogTime);
  EXPECT_FALSE(reread.settings.SortByDate);
  EXPECT_EQ(reread.settings.MaxLogSize, 2050);
  EXPECT_EQ(reread.settings.DefaultFileFolder, "/srv/print");

  // Without another edit the next page change writes nothing.
  const auto written = fs::last_write_time(kernel->dataDir + "Vellumora.ini");
  const std::string bytes = Ini();
  dialog().PageControl1->setCurrentWidget(dialog().TabSheet4);
  EXPECT_EQ(fs::last_write_time(kernel->dataDir + "Vellumora.ini"), written);
  EXPECT_EQ(Ini(), bytes);

  // Debug mode takes effect at once; the rest when the kernel reads the file.
  InDialog<QCheckBox>("CBdebug")->click();
  dialog().PageControl1->setCurrentWidget(dialog().TabSheet1);
  EXPECT_TRUE(kernel->settings.DebugMode);
}

TEST_F(SetupDialogTest, WhileScanningEveryPageChangeLandsOnTheMobilePage) {
  dialog().Open();
  InDialog<QCheckBox>("CBlogFilename")->click();
  const std::string before = Ini();
  scanningActive = 1;
  for (QWidget* page : {dialog().TabSheet1, dialog().TabSheet4, dialog().TabSheet2}) {
    dialog().PageControl1->setCurrentWidget(page);
    EXPECT_EQ(dialog().PageControl1->currentWidget(), dialog().TabSheet3);
  }
  scanningActive = 0;
  EXPECT_EQ(Ini(), before);  // nothing is saved beneath the scan loop
  EXPECT_TRUE(dialog().settingsChanged);
}

TEST_F(SetupDialogTest, TheGeneralPageShowsTheLoadedSettings) {
  dialog().LoadGeneralSettings();
  EXPECT_TRUE(InDialog<QCheckBox>("CBlogDate")->isChecked());
  EXPECT_TRUE(InDialog<QCheckBox>("CBonlyKnownTypes")->isChecked());
  EXPECT_EQ(InDialog<QSpinBox>("SElogMaxSize")->value(), 1000);
  EXPECT_EQ(InDialog<QSpinBox>("SEmaxCPUload")->value(), 100);
  EXPECT_FALSE(InDialog<QCheckBox>("CBnoStopOnError")->isEnabled());
  EXPECT_FALSE(dialog().settingsChanged);  // loading is no edit
  // Without a service manager the whole service panel is off.
  EXPECT_FALSE(InDialog<QWidget>("Panel3")->isEnabled());
}

// --- the hover help -------------------------------------------------------------------------

TEST_F(SetupDialogTest, TheHintUnderTheMouseSteersTheHelpPanelOfThePageShowing) {
  dialog().Open();
  dialog().PageControl1->setCurrentWidget(dialog().TabSheet1);
  ui::TKHelp* help = InDialog<ui::TKHelp>("HelpBasicSetup");
  Hover(InDialog<QCheckBox>("CBusePDFThread"));
  EXPECT_EQ(help->currentParagraph(), "#19");
  EXPECT_FALSE(help->toPlainText().isEmpty());
  const int reads = help->fileReads();
  Hover(InDialog<QCheckBox>("CBusePDFThread"));  // the same hint: nothing read
  EXPECT_EQ(help->fileReads(), reads);
  Hover(InDialog<QCheckBox>("CBlogTime"));  // no hint of its own: its group's
  EXPECT_EQ(help->currentParagraph(), "#1");
  Hover(InDialog<QWidget>("SEmaxCPUload"));
  EXPECT_EQ(help->currentParagraph(), "#17");

  // On another page the hint goes to that page's panel only.
  dialog().PageControl1->setCurrentWidget(dialog().TabSheet2);
  Hover(InDialog<QWidget>("GBscheduler"));
  EXPECT_EQ(InDialog<ui::TKHelp>("HelpPrinters")->currentParagraph(), "#11");
  EXPECT_EQ(help->currentParagraph(), "#17");
}

TEST_F(SetupDialogTest, EveryHintOfTheWindowsHasAParagraphInTheHelpFile) {
  std::set<std::string> heads;
  std::ifstream file(std::string(VELLUMORA_SOURCE_SHARE) + "Vellumora.htx");
  ASSERT_TRUE(file.good());
  for (std::string line; std::getline(file, line);)
    if (!line.empty() && line[0] == '#') heads.insert(line);
  std::set<std::string> used;
  for (QWidget* top : {static_cast<QWidget*>(&dialog()), static_cast<QWidget*>(&window())})
    for (QWidget* w : top->findChildren<QWidget*>()) {
      const std::string hint = ui::LongHint(ui::HintOf(w).toStdString());
      if (!hint.empty() && hint[0] == '#') used.insert(hint);
    }
  for (const ui::TKHelp* help : dialog().findChildren<ui::TKHelp*>()) used.insert(help->Paragraph);
  EXPECT_GE(used.size(), 8u);
  for (const std::string& hint : used) EXPECT_TRUE(heads.count(hint)) << hint;
}

// --- the service panel ----------------------------------------------------------------------

class ServicePanelTest : public ::testing::Test {
 protected:
  ServicePanelTest() : bus(dir.path()) {
    EnsureQtApplication();
    fs::create_directories(dir.path() / "etc");
    manager =
        std::make_unique<StandInManager>(bus.address, dir.path() / "etc" / "vellumora.service",
                                         dir.path() / "lib" / "vellumora.service");
  }
  void SetUp() override {
    ASSERT_TRUE(bus.running()) << "dbus-daemon did not start";
    ASSERT_TRUE(manager->ok());
  }
  std::unique_ptr<C_VAZService> Service() {
    C_VAZService::Environment e;
    e.managerRunning = true;
    e.busAddress = bus.address;
    e.unitDirectory = (dir.path() / "etc").string();
    auto service = std::make_unique<C_VAZService>("Vellumora", nullptr, nullptr, false, e);
    service->adminRights = true;
    return service;
  }
  std::string UnitFile() { return ReadFileBytes(dir.path() / "etc" / "vellumora.service"); }

  SandboxDir dir;
  PrivateBus bus;
  std::unique_ptr<StandInManager> manager;
};

TEST_F(ServicePanelTest, TheAccountNameDecidesTheUserTheServiceRunsAs) {
  struct Case {
    const char* typed;
    const char* account;   // what the service object installs for
    const char* userLine;  // the unit's User= line, or "" for none (root)
    const char* passwordAfter;
    const char* shownAfter;  // the account field of a fresh look at the installed unit
  } cases[] = {
      // One or two characters: the service's own account.
      {"ab", "", "User=vellumora\n", "secret", ".\\vellumora"},
      {"printer", ".\\printer", "User=printer\n", "", ".\\printer"},
      {".\\printer", ".\\printer", "User=printer\n", "", ".\\printer"},
      {"root", ".\\root", "", "", ".\\root"},  // root only by name
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    auto service = Service();
    ui::ServicePanel panel(*service);
    QString status;
    panel.showStatus = [&](const QString& text) { status = text; };
    panel.EDservicePath->setText("/usr/bin/vellumora");
    panel.ShowServiceState();
    panel.EDaccountName->setText(c.typed);
    panel.EDaccountPassword->setText("secret");
    panel.BNinstallService->click();
    EXPECT_EQ(status, "Service installed");
    EXPECT_EQ(service->accountName, c.account);
    EXPECT_TRUE(service->autoStart);
    EXPECT_EQ(panel.EDaccountPassword->text(), c.passwordAfter);
    const std::string unit = UnitFile();
    if (*c.userLine)
      EXPECT_NE(unit.find(c.userLine), std::string::npos) << unit;
    else
      EXPECT_EQ(unit.find("User="), std::string::npos) << unit;
    // Installed: install and the account fields are off, the others on.
    EXPECT_FALSE(panel.BNinstallService->isEnabled());
    EXPECT_FALSE(panel.EDaccountName->isEnabled());
    EXPECT_TRUE(panel.BNremoveService->isEnabled());
    EXPECT_EQ(panel.BNrestartService->text(), "&Start service");
    // A fresh look at the installed unit shows the account with its local prefix.
    auto again = Service();
    ui::ServicePanel shown(*again);
    shown.ShowServiceState();
    EXPECT_EQ(shown.EDaccountName->text().toStdString(), c.shownAfter);
    panel.BNremoveService->click();
    EXPECT_EQ(status, "Service removed");
    EXPECT_FALSE(fs::exists(dir.path() / "etc" / "vellumora.service"));
  }
}

TEST_F(ServicePanelTest, StartAndStopSayWhatHappened) {
  auto service = Service();
  ui::ServicePanel panel(*service);
  std::vector<QString> statuses;
  panel.showStatus = [&](const QString& text) { statuses.push_back(text); };
  panel.EDservicePath->setText("/usr/bin/vellumora");
  panel.BNinstallService->click();
  panel.BNrestartService->click();
  EXPECT_EQ(statuses.back(), "Service started");
  EXPECT_TRUE(service->running);
  EXPECT_EQ(panel.BNrestartService->text(), "&Stop service");
  EXPECT_FALSE(panel.BNremoveService->isEnabled());  // never while it runs

  manager->SetJobResult("failed");
  panel.BNrestartService->click();
  EXPECT_EQ(statuses.back(), "Stopping service failed - try again !");
  EXPECT_TRUE(service->running);
  manager->SetJobResult("done");
  panel.BNrestartService->click();
  EXPECT_EQ(statuses[statuses.size() - 2], "Stopping service - please wait ...");
  EXPECT_EQ(statuses.back(), "Service stopped");
  EXPECT_EQ(panel.BNrestartService->text(), "&Start service");
  EXPECT_TRUE(panel.BNremoveService->isEnabled());
}

TEST_F(ServicePanelTest, WithoutTheRightsThePanelSaysSoAndOffersNothing) {
  auto service = Service();
  service->adminRights = false;
  ui::ServicePanel panel(*service);
  panel.ShowServiceState();
  EXPECT_TRUE(panel.Panel5->isVisibleTo(&panel));
  EXPECT_NE(panel.findChild<QLabel*>("LBnoServiceRights")
                ->text()
                .indexOf("Please run Vellumora as administrator."),
            -1);
  for (QWidget* w : std::initializer_list<QWidget*>{panel.BNinstallService, panel.BNrestartService,
                                                    panel.BNremoveService, panel.EDaccountName,
                                                    panel.EDaccountPassword})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  service->adminRights = true;
  panel.ShowServiceState();
  EXPECT_FALSE(panel.Panel5->isVisibleTo(&panel));
  EXPECT_TRUE(panel.BNinstallService->isEnabled());
}

}  // namespace
}  // namespace vellumora::test
