// The main window driven offscreen by object name: state line, log view, preview and its
// decision, the service's log followed.
#include <fcntl.h>
#include <unistd.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTextBlock>
#include <filesystem>
#include <fstream>
#include <thread>

#include "kernel/text-fields.h"
#include "ui/desktop-fixture.h"
#include "ui/info-window.h"
#include "ui/picture-window.h"
#include "ui/setup-dialog.h"

namespace vellumora::test {
namespace {

class MainWindowTest : public DesktopFixture {
 protected:
  QPlainTextEdit* LogView() { return Find<QPlainTextEdit>("Quittungen"); }
  QString LastLogLine() { return LogView()->document()->lastBlock().text(); }
  void Pump() { QCoreApplication::processEvents(); }
};

TEST_F(MainWindowTest, StateLineFollowsTheThreeStates) {
  struct Case {
    int scanning;
    bool serviceRunning;
    const char* text;
    const char* colour;  // the state line's background
    const char* button;
    bool buttonEnabled, quitEnabled, setupEnabled;
  } cases[] = {
      {0, false, ui::kStateInactive, "#ff6f55", "Start scanning", true, true, true},
      {1, false, ui::kStateScanning, "#15c86f", "Stop scanning", true, false, false},
      {0, true, ui::kStateService, "#0098e1", "Start scanning", false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    scanningActive = c.scanning;
    service->installed = c.serviceRunning;
    service->running = c.serviceRunning;
    window().UpdateStateDisplay();
    auto* panel = Find<QLabel>("Panel");
    EXPECT_EQ(panel->text().toStdString(), c.text);
    EXPECT_TRUE(panel->styleSheet().contains(QLatin1String(c.colour)))
        << panel->styleSheet().toStdString();
    auto* startStop = Find<QPushButton>("BNstartStop");
    EXPECT_EQ(startStop->text().toStdString(), c.button);
    EXPECT_EQ(startStop->isEnabled(), c.buttonEnabled);
    EXPECT_EQ(Find<QPushButton>("BNquit")->isEnabled(), c.quitEnabled);
    EXPECT_EQ(Find<QPushButton>("BNsetup")->isEnabled(), c.setupEnabled);
  }
  scanningActive = 0;
  service->running = service->installed = false;
}

TEST_F(MainWindowTest, StatusLinesAppearOnceWithTheirPrefixAndAtMost1001Lines) {
  kernel->Log(" ");
  PumpUntil([&] { return LastLogLine() == " "; });
  EXPECT_EQ(LastLogLine().toStdString(), " ");  // one character: no time prefix

  kernel->Log("Printer check done");
  kernel->Log("Printer check done");
  PumpUntil([&] { return LastLogLine().endsWith(QLatin1String("Printer check done")); });
  Pump();
  const QString text = LogView()->toPlainText();
  EXPECT_EQ(text.count(QLatin1String("Printer check done")), 1);
  // "mm.dd. hh:nn  " before the text.
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\d\\. \\d\\d:\\d\\d  Printer"))
                  .match(LastLogLine())
                  .hasMatch())
      << LastLogLine().toStdString();

  for (int i = 0; i < 1100; ++i) kernel->Log("line " + std::to_string(i));
  PumpUntil([&] { return LastLogLine().endsWith(QLatin1String("line 1099")); });
  EXPECT_EQ(LogView()->document()->blockCount(), 1001);
  EXPECT_TRUE(LogView()->document()->firstBlock().text().endsWith(QLatin1String("line 99")));
}

TEST_F(MainWindowTest, TheLogFileLoadedAtStartCountsTowardsTheLimit) {
  // UTF-16LE lines as the log writes them.
  std::u16string text = u"Vellumora Log-File - Do NOT edit!\r\n";
  for (int i = 0; i < 1500; ++i)
    text += u"12.10. 10:00   old line " + std::u16string(1, u'x') + u"\r\n";
  std::ofstream(kernel->dataDir + "Vellumora.log", std::ios::binary)
      .write(reinterpret_cast<const char*>(text.data()),
             static_cast<std::streamsize>(text.size() * 2));
  window().LoadLogFile();
  EXPECT_EQ(LogView()->document()->blockCount(), 1001);
  kernel->Log("new line");
  PumpUntil([&] { return LastLogLine().endsWith(QLatin1String("new line")); });
  EXPECT_EQ(LogView()->document()->blockCount(), 1001);
}

TEST_F(MainWindowTest, APageOfA4At300DpiIsLabelledInMillimetres) {
  window().show();
  engine().alwaysPrint = true;
  Bitmap picture;
  picture.width = picture.height = 2;
  picture.stride = 8;
  picture.bgra = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};  // black
  engine().PreviewPage(DeviceRect{0, 0, 2480, 3508}, 300, 3, "page.jpg");
  engine().PreviewImage(DeviceRect{0, 0, 2480, 3508}, picture);
  engine().PreviewWatermark(DeviceRect{0, 0, 2480, 3508}, false, false);
  engine().PreviewNote(DeviceRect{0, 0, 2480, 3508}, "", 1, 1, "page.jpg");
  // Always print: printing goes on at once, and the preview is still drawn.
  EXPECT_EQ(engine().WaitForPrintDecision(), 2);
  auto* image = Find<QLabel>("IMprev");
  ASSERT_TRUE(PumpUntil([&] { return image->isVisible(); }));
  EXPECT_EQ(Find<QLabel>("LBmmWidth")->text().toStdString(), " 210 mm ");
  EXPECT_EQ(Find<QLabel>("LBmmHeight")->text().toStdString(), " 297 mm ");
  EXPECT_EQ(Find<QLabel>("LBchannel")->text().toStdString(), "3");
  EXPECT_EQ(Find<QLabel>("LBfilename")->text().toStdString(), "page.jpg");
  EXPECT_FALSE(Find<QPushButton>("BNprint")->isEnabled());
  // The page fills the panel's height less its title bar and margin.
  const int available = Find<QWidget>("PNpreview")->height() - 35 - 20;
  EXPECT_EQ(image->height(), available);
  EXPECT_EQ(image->width(), available * 2480 / 3508);
  EXPECT_DOUBLE_EQ(engine().previewScale(), static_cast<double>(image->width()) / 2480);
  // The picture was drawn: the page is black where it lies.
  const QImage shown = image->pixmap().toImage();
  EXPECT_EQ(qGray(shown.pixel(shown.width() / 2, shown.height() / 2)), 0);
}

// The operator's answer reaches the waiting engine thread; a stop answers skip.
TEST_F(MainWindowTest, TheDecisionEndsTheWait) {
  struct Case {
    const char* action;
    int32_t expected;
  } cases[] = {{"BNprint", 2}, {"BNskip", 0}, {"stop", 0}};
  window().show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    stopRequested = 0;
    engine().alwaysPrint = false;
    engine().PreviewPage(DeviceRect{0, 0, 1000, 1000}, 300, 1, "a.png");
    std::atomic<int32_t> decision{-1};
    std::thread waiter([&] { decision = engine().WaitForPrintDecision(); });
    auto* print = Find<QPushButton>("BNprint");
    ASSERT_TRUE(PumpUntil([&] { return print->isEnabled(); }));
    EXPECT_TRUE(window().previewWaiting());
    EXPECT_FALSE(Find<QPushButton>("BNstartStop")->isEnabled());
    if (std::string(c.action) == "stop")
      engine().RequestStop();
    else
      Find<QPushButton>(c.action)->click();
    waiter.join();
    EXPECT_EQ(decision.load(), c.expected);
    ASSERT_TRUE(PumpUntil([&] { return !print->isEnabled(); }));
    EXPECT_FALSE(Find<QWidget>("SHsignal")->isVisible());
    EXPECT_TRUE(Find<QPushButton>("BNstartStop")->isEnabled());
  }
  stopRequested = 0;
}

// The screen output: the engine decodes the picture from the input file's descriptor and the
// picture window shows it; a file that does not decode is refused.
TEST_F(MainWindowTest, TheScreenOutputShowsWhatDecodes) {
  const std::string good = (dir.path() / "show.png").string();
  const std::string bad = (dir.path() / "broken.jpg").string();
  ASSERT_TRUE(QImage(QSize(64, 48), QImage::Format_RGB32).save(QString::fromStdString(good)));
  WriteFileBytes(bad, "\xFF\xD8\xFF not really a JPEG");
  auto open = [](const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); };
  const int goodFd = open(good), badFd = open(bad);
  EXPECT_FALSE(engine().ShowPicture(badFd, bad));
  EXPECT_TRUE(engine().ShowPicture(goodFd, good));
  ::close(goodFd);
  ::close(badFd);
  ASSERT_TRUE(PumpUntil([&] { return desktop->pictureWindow().isVisible(); }));
  engine().HidePicture();
  ASSERT_TRUE(PumpUntil([&] { return !desktop->pictureWindow().isVisible(); }));
}

TEST_F(MainWindowTest, HiddenWindowPreviewsNothing) {
  window().show();
  EXPECT_TRUE(engine().Visible());
  window().hide();
  EXPECT_FALSE(engine().Visible());
}

TEST_F(MainWindowTest, WhileTheServiceRunsTheViewFollowsItsLogFile) {
  service->installed = service->running = true;
  window().SetLogCheckInterval(100);
  window().UpdateStateDisplay();
  // Lines of this process go to the file only; the view shows what the file holds.
  log->AddLine("written by the service");
  ASSERT_TRUE(PumpUntil(
      [&] { return LogView()->toPlainText().contains(QLatin1String("written by the service")); }));
  kernel->Log("not for the view");
  log->AddLine("the service goes on");
  ASSERT_TRUE(PumpUntil(
      [&] { return LogView()->toPlainText().contains(QLatin1String("the service goes on")); }));
  service->installed = service->running = false;
  window().UpdateStateDisplay();
}

// The first start: without channels the two questions are asked; YES to both makes the two
// default channels and switches the mobile server on; NO to both leaves everything as it was.
TEST_F(MainWindowTest, FirstStartOffersTheDefaultChannelsAndTheServer) {
  struct Case {
    char channels, server;
    int32_t count;
    bool active;
  } cases[] = {{ui::kAnswerYes, ui::kAnswerYes, 2, true}, {ui::kAnswerNo, ui::kAnswerNo, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    desktop.reset();
    std::filesystem::remove_all(kernel->dataDir);
    kernel = std::make_unique<C_Kernel>(dir.path().string() + "/");
    kernel->log = log.get();
    kernel->logCallback = [this](const std::string& t, bool r) { statusLine->Show(t, r); };
    context = std::make_unique<DesktopContext>(
        DesktopContext{*kernel, *service, *log, *statusLine, *outputs, watermark});
    desktop = std::make_unique<ui::DesktopApplication>(*context, QString());
    const std::string files = (dir.path() / ("files" + std::to_string(c.count))).string();
    window().defaultFilesFolder = [files] { return files; };
    std::vector<std::string> questions;
    std::vector<char> answers{c.channels, c.server};
    desktop->infoWindow().answerHook = [&](ui::TFormInfo&) {
      const char a = answers.empty() ? ui::kAnswerNo : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
      questions.push_back(std::string(1, a));
      return a;
    };
    window().TimerStartTimer();
    EXPECT_EQ(questions.size(), 2u);
    EXPECT_EQ(kernel->channelCount, c.count);
    EXPECT_EQ(kernel->settings.Active, c.active);
    EXPECT_EQ(scanningActive.load(), 0);  // a first start never scans on its own
    EXPECT_TRUE(ui::suppressAutoStart.load());
    // The setup dialog was shown for the questions and is closed again, to save the channel
    // shown at its next change check.
    EXPECT_FALSE(desktop->setupDialog().isVisible());
    EXPECT_TRUE(desktop->setupDialog().settingsDirty);
    EXPECT_EQ(desktop->setupDialog().PCMatrix2->rowCount(), c.count);
    // What was saved is what a fresh start reads.
    C_Kernel reread(dir.path().string() + "/");
    reread.ReadSettings(false);
    EXPECT_EQ(reread.channelCount, c.count);
    EXPECT_EQ(reread.settings.Active, c.active);
    if (c.count == 2) {
      EXPECT_TRUE(std::filesystem::is_directory(files + "/Screen"));
      EXPECT_EQ(ReadField(reread.channels[0].printerName), "SCREEN");
    }
  }
}

}  // namespace
}  // namespace vellumora::test
