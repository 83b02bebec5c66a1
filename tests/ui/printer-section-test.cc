// The printer section of the setup dialog against the private print server: the access lamps
// and the error panel, the driver settings dialog with trying and restoring its settings on
// the printer, and the test printouts through a channel.
#include <QCheckBox>
#include <QComboBox>
#include <QTextEdit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "kernel/default-channels.h"
#include "kernel/text-fields.h"
#include "support/cups-sandbox.h"
#include "ui/desktop-fixture.h"
#include "ui/driver-settings-dialog.h"
#include "ui/help-panel.h"
#include "ui/setup-dialog.h"

namespace vellumora::test {
namespace {

namespace fs = std::filesystem;

const QColor kGrey(128, 128, 128), kGreen(10, 201, 105), kRed(255, 0, 0);

std::string FileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The real outputs, but with the access check answering fixed bits: what no queue of the
// private server gives (a printer that may be read but not written, say).
class FixedAccessPort : public OutputPort {
 public:
  FixedAccessPort(OutputPort& real, int32_t bits) : real_(real), bits_(bits) {}
  int32_t TestPrinterAccess(const std::string&) override { return bits_; }
  std::vector<std::string> PrinterNames() override { return real_.PrinterNames(); }
  bool OpenPrinterCheck(const std::string& p) override { return real_.OpenPrinterCheck(p); }
  bool SelectPrinter(const std::string& p) override { return real_.SelectPrinter(p); }
  bool PrepareChannelPrinter(int32_t i) override { return real_.PrepareChannelPrinter(i); }
  OutputReport PrintPdfFile(const OutputJob& j) override { return real_.PrintPdfFile(j); }
  OutputReport PrintBitmapFile(const OutputJob& j) override { return real_.PrintBitmapFile(j); }
  OutputReport PrintTextFile(const OutputJob& j) override { return real_.PrintTextFile(j); }
  OutputReport PrintRawFile(const OutputJob& j) override { return real_.PrintRawFile(j); }
  JobFate AskJob(const std::string& p, int32_t id) override { return real_.AskJob(p, id); }
  bool CancelJob(const std::string& p, int32_t id) override { return real_.CancelJob(p, id); }

 private:
  OutputPort& real_;
  int32_t bits_;
};

class PrinterSectionTest : public DesktopFixture {
 protected:
  void SetUp() override {
    RecordLogLines();
    folder = dir.path() / "in";
    fs::create_directories(folder);
    ASSERT_EQ(printers::SetDefaultMedia(CupsSandbox::kPostScriptQueue, "iso_a4_210x297mm"),
              printers::WriteResult::kOk);
  }
  void TearDown() override {
    printers::SetDefaultMedia(CupsSandbox::kPostScriptQueue, "iso_a4_210x297mm");
  }

  // One saved channel to `printer`, shown in the dialog.
  void ShowChannel(const std::string& printer) {
    kernel->ReadSettings(false);
    SpareChannelSlot(*kernel) = NewChannelRecord(folder.string(), printer, 1);
    ASSERT_TRUE(kernel->SaveSettings(true));
    ASSERT_EQ(kernel->channelCount, 1);
    setup().editIndex = 0;
    setup().LoadChannelControls(false);
    setup().savedChannel = setup().editChannel;
    setup().CBprinters->setEditText(QString::fromStdString(printer));
  }
  // The edits of the dialog saved into the channel, as "Save changes" does.
  void SaveEdits() {
    kernel->channels[0] = setup().editChannel;
    setup().savedChannel = setup().editChannel;
    ASSERT_TRUE(kernel->SaveSettings(false));
  }
  // Runs "Special driver settings ..." with `work` choosing in the dialog and its answer.
  void RunDriverDialog(const std::function<int(ui::DriverSettingsDialog&)>& work) {
    setup().driverDialogHook = [&](QWidget& d) {
      return work(static_cast<ui::DriverSettingsDialog&>(d));
    };
    setup().BNdriverSetupClick();
    setup().driverDialogHook = nullptr;
  }
  static void Choose(ui::DriverSettingsDialog& d, const char* option, const char* token) {
    QComboBox* box = d.Choices(option);
    ASSERT_NE(box, nullptr) << option;
    const int at = box->findData(QString::fromLatin1(token));
    ASSERT_GE(at, 0) << token;
    box->setCurrentIndex(at);
  }
  QColor Lamp(QFrame* lamp) { return lamp->palette().color(QPalette::Window); }
  QStringList Errors() {
    return setup().Memo->toPlainText().split('\n', Qt::SkipEmptyParts);
  }
  ui::TForm1& setup() { return desktop->setupDialog(); }

  fs::path folder;
};

TEST_F(PrinterSectionTest, TheLampsShowWhatThePrinterAllows) {
  struct Case {
    const char* printer;
    QColor vcl, api, special;
    const char* headline;
    const char* error;  // the error panel's line, "" none
    bool sectionShown;
  } cases[] = {
      {CupsSandbox::kRawQueue, kGreen, kGreen, kGreen, " Printer driver access established!", "",
       true},
      {CupsSandbox::kPostScriptQueue, kGreen, kGreen, kGreen,
       " Printer driver access established!", "", true},
      {"no-such-printer", kGrey, kRed, kGrey, " Printer driver access not sufficient !",
       "100 Printer driver couldn't be accessed", true},
      {"", kGrey, kGrey, kGrey, " Printer driver access established!", "", true},
      {"SCREEN", kGrey, kGrey, kGrey, "", "", false},
  };
  ShowChannel(CupsSandbox::kRawQueue);
  setup().show();
  setup().PageControl1->setCurrentWidget(setup().TabSheet2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.printer);
    setup().BNcloseClick();
    setup().SEcopies->setValue(5);
    setup().CBprinters->clearEditText();
    setup().Memo->clear();
    setup().CBprinters->setEditText(QString::fromLatin1(c.printer));  // runs the check
    EXPECT_EQ(setup().PNprinter->isVisible(), c.sectionShown);
    EXPECT_EQ(setup().IMtarget1->property("picture").toString(),
              c.sectionShown ? "PRINTER100" : "SCREEN100");
    if (!c.sectionShown) {
      EXPECT_EQ(setup().SEcopies->value(), 1);
      EXPECT_EQ(setup().CheckPrinterAccess(), 1);
      continue;
    }
    EXPECT_EQ(Lamp(setup().SHchkVCL), c.vcl);
    EXPECT_EQ(Lamp(setup().SHchkWinApi), c.api);
    EXPECT_EQ(Lamp(setup().SHchkWinApiS), c.special);
    EXPECT_EQ(setup().LBconnect->text(), c.headline);
    EXPECT_EQ(setup().PNElog->isVisible(), *c.error != '\0');
    EXPECT_EQ(Errors().join('|'), c.error);
    if (c.printer == std::string(CupsSandbox::kRawQueue)) {
      EXPECT_TRUE(setup().BNdriverSetup->isEnabled());
    }
  }
  EXPECT_TRUE(Logged("ERROR: Printer is not accessible or can't be found"));
  // The error panel covers the help panel exactly.
  setup().ReportSetupError(201);
  EXPECT_EQ(setup().PNElog->geometry(),
            QRect(setup().HelpPrinters->mapTo(setup().PNElog->parentWidget(), QPoint(0, 0)),
                  setup().HelpPrinters->size()));
  EXPECT_EQ(Errors().last(), "201 File input folder is no longer available");
}

TEST_F(PrinterSectionTest, EachMissingAccessBitHasItsLampErrorAndLogLine) {
  struct Case {
    int32_t bits;
    QColor vcl, special;
    const char* error;
    const char* logLine;
  } cases[] = {
      {1, kRed, kGrey, "105 Application VCL couldn't access the printer",
       "ERROR: Bitmap graphics printing is not possible"},
      {3, kGreen, kRed, "101 Printer driver couldn't be accessed for setup",
       "ERROR: Full printer driver settings access couldn't be established"},
      {7, kGreen, kRed, "104 Printer driver settings couldn't be achieved",
       "ERROR: Full printer driver settings access couldn't be established"},
      // Read but not written back.
      {31, kGreen, kRed, "102 Printer driver settings couldn't be modified",
       "ERROR: Full printer driver settings access couldn't be established"},
  };
  ShowChannel(CupsSandbox::kRawQueue);
  setup().show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    FixedAccessPort port(*outputs, c.bits);
    kernel->output = &port;
    setup().Memo->clear();
    {
      std::lock_guard lock(logLinesMutex);
      logLines.clear();
    }
    setup().BNdriverSetup->setEnabled(true);
    setup().BNsetToNewDefault->setEnabled(true);
    EXPECT_EQ(setup().CheckPrinterAccess(), c.bits);
    kernel->output = outputs.get();
    EXPECT_EQ(Lamp(setup().SHchkWinApi), kGreen);
    EXPECT_EQ(Lamp(setup().SHchkVCL), c.vcl);
    EXPECT_EQ(Lamp(setup().SHchkWinApiS), c.special);
    EXPECT_EQ(Errors().join('|'), c.error);
    EXPECT_TRUE(Logged(c.logLine));
    EXPECT_EQ(setup().LBconnect->text(), " Printer driver access not sufficient !");
    EXPECT_FALSE(setup().BNsetToNewDefault->isEnabled());
    if (c.bits & 2) {
      EXPECT_FALSE(setup().BNdriverSetup->isEnabled());
    }
  }
}

TEST_F(PrinterSectionTest, ChosenDriverSettingsReachThePrinterOnlyWhenTriedAndRestoreUndoesThem) {
  const char* queue = CupsSandbox::kPostScriptQueue;
  ShowChannel(queue);
  setup().show();
  ASSERT_EQ(setup().CheckPrinterAccess() & 32, 32);
  ASSERT_EQ(PrinterDefault(queue, "media-default"), "iso_a4_210x297mm");
  // The colour mode the channel takes is the one the printer does not have now.
  const std::string colourBefore = PrinterDefault(queue, "print-color-mode-default");
  const std::string colour = colourBefore == "monochrome" ? "color" : "monochrome";
  EXPECT_FALSE(setup().BNsetToNewDefault->isEnabled());  // no special settings yet
  EXPECT_EQ(setup().PNspecialDriver->palette().color(QPalette::Window), QColor(182, 182, 182));

  // Cancelled: nothing changes.
  RunDriverDialog([](ui::DriverSettingsDialog& d) {
    Choose(d, "media", "kiso_a5_148x210mm");
    return int(QDialog::Rejected);
  });
  EXPECT_EQ(std::memcmp(&setup().editChannel, &setup().savedChannel, sizeof(PrintChannel)), 0);

  // Chosen: the block is the channel's, the printer keeps its own defaults.
  RunDriverDialog([&](ui::DriverSettingsDialog& d) {
    // Without settings of its own the channel starts from the printer's.
    EXPECT_EQ(d.Choices("media")->currentData().toString(), "kiso_a4_210x297mm");
    EXPECT_NE(d.Choices("media")->currentText().indexOf("[printer default]"), -1);
    Choose(d, "media", "kiso_a5_148x210mm");
    Choose(d, "print-color-mode", ("k" + colour).c_str());
    Choose(d, "media-source", "kmanual");
    return int(QDialog::Accepted);
  });
  const auto block = printers::ReadDefaultsBlock(queue);
  ASSERT_TRUE(block);
  EXPECT_EQ(setup().editChannel.driverSize, static_cast<int32_t>(block->size()));
  EXPECT_EQ(PrinterDefault(queue, "media-default"), "iso_a4_210x297mm");
  SaveEdits();
  setup().RefreshSpecialDriverPanel();
  EXPECT_EQ(setup().PNspecialDriver->palette().color(QPalette::Window), QColor(164, 185, 200));
  EXPECT_EQ(setup().BNdriverSetup->palette().color(QPalette::ButtonText), QColor(0, 0, 255));
  ASSERT_TRUE(setup().BNsetToNewDefault->isEnabled());
  EXPECT_FALSE(setup().BNrestore->isEnabled());

  // Opened again, the dialog starts from the channel's settings.
  RunDriverDialog([](ui::DriverSettingsDialog& d) {
    EXPECT_EQ(d.Choices("media")->currentData().toString(), "kiso_a5_148x210mm");
    EXPECT_EQ(d.Choices("media-source")->currentData().toString(), "kmanual");
    return int(QDialog::Rejected);
  });

  // Tried twice (the second try finds nothing to change), then restored.
  setup().BNsetToNewDefault->click();
  setup().BNsetToNewDefault->click();
  EXPECT_EQ(PrinterDefault(queue, "media-default"), "iso_a5_148x210mm");
  EXPECT_EQ(PrinterDefault(queue, "print-color-mode-default"), colour);
  EXPECT_EQ(PrinterDefault(queue, "media-source-default"), "manual");
  ASSERT_TRUE(setup().BNrestore->isEnabled());
  setup().BNrestore->click();
  EXPECT_FALSE(setup().BNrestore->isEnabled());
  EXPECT_EQ(PrinterDefault(queue, "media-default"), "iso_a4_210x297mm");
  EXPECT_EQ(PrinterDefault(queue, "print-color-mode-default"), colourBefore);
  EXPECT_TRUE(Errors().isEmpty()) << Errors().join('|').toStdString();

  // A block made for another driver: the dialog starts from the printer's settings.
  setup().editChannel.driverSize = 16;
  RunDriverDialog([](ui::DriverSettingsDialog& d) {
    EXPECT_EQ(d.Choices("media")->currentData().toString(), "kiso_a4_210x297mm");
    return int(QDialog::Rejected);
  });
  EXPECT_EQ(Errors().join('|'), "103 Printer driver size mismatch");
  EXPECT_EQ(setup().editChannel.driverSize, 16);

  // Cleared: the saved channel loses its settings and the panel turns grey.
  setup().BNclearSpecialDriver->click();
  EXPECT_EQ(kernel->channels[0].driverSize, 0);
  EXPECT_EQ(setup().PNspecialDriver->palette().color(QPalette::Window), QColor(182, 182, 182));
  EXPECT_FALSE(setup().BNsetToNewDefault->isEnabled());
  EXPECT_FALSE(setup().BNclearSpecialDriver->isEnabled());
}

TEST_F(PrinterSectionTest, TheTestPrintoutsArriveAtThePrinter) {
  CupsSandbox& cups = CupsSandbox::Get();
  ShowChannel(CupsSandbox::kRawQueue);
  // Raw files are printed only with that allowed.
  setup().findChild<QCheckBox*>("CBonlyKnownTypes")->setChecked(false);
  ASSERT_TRUE(kernel->SaveSettings(false));
  const std::string share = ShareDirectory();
  ASSERT_FALSE(share.empty());
  // An older file of the sample's name is replaced; a link of that name is replaced, and what
  // it points to stays as it was.
  std::ofstream(folder / "TestFile.jpg") << "an older file";
  const fs::path outside = dir.path() / "outside.txt";
  std::ofstream(outside) << "not to be touched";
  fs::create_symlink(outside, folder / "TestFile.prn");

  // Unsaved edits or the running service keep the buttons off.
  setup().RefreshTestButtons(true);
  EXPECT_FALSE(setup().BNtestBMP->isEnabled());
  service->running = true;
  setup().RefreshTestButtons(false);
  EXPECT_FALSE(setup().BNtestPDF->isEnabled());
  service->running = false;
  setup().RefreshTestButtons(false);
  setup().show();
  ASSERT_TRUE(setup().BNtestPRN->isEnabled());

  const bool debugBefore = kernel->settings.DebugMode;
  for (QPushButton* b : {setup().BNtestBMP, setup().BNtestPDF, setup().BNtestPRN}) b->click();
  const auto jobs = cups.WaitForJobs(CupsSandbox::kRawQueue, 3, std::chrono::seconds(30));
  ASSERT_EQ(jobs.size(), 3u);
  EXPECT_EQ(jobs[0].data.substr(0, 5), "%PDF-");  // the picture, on a page of ours
  EXPECT_EQ(jobs[1].data.substr(0, 5), "%PDF-");
  EXPECT_EQ(jobs[2].data, FileBytes(share + "TestFile.prn"));
  EXPECT_EQ(FileBytes(outside), "not to be touched");
  for (const char* name : {"TestFile.jpg", "TestFile.pdf", "TestFile.prn"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / name))) << name;
  EXPECT_TRUE(Logged("============= TEST PRINTOUT ==============="));
  EXPECT_TRUE(Logged("============================================"));
  EXPECT_EQ(kernel->settings.DebugMode, debugBefore);
  EXPECT_EQ(scanningActive.load(), 0);

  // While a scan pass runs nothing is copied or printed.
  kernelIdle = 0;
  setup().BNtestPRN->click();
  kernelIdle = 1;
  EXPECT_FALSE(fs::exists(folder / "TestFile.prn"));

  // With raw printing switched off the raw sample is not left lying unprinted in the folder.
  setup().findChild<QCheckBox*>("CBonlyKnownTypes")->setChecked(true);
  ASSERT_TRUE(kernel->SaveSettings(false));
  setup().BNtestPRN->click();
  EXPECT_FALSE(fs::exists(folder / "TestFile.prn"));
  EXPECT_TRUE(Logged("ERROR Test printout: raw file printing is switched off in the general setup"));
}

}  // namespace
}  // namespace vellumora::test
