// The desktop application printing through the private print server: the engine thread finds
// a picture, the window previews it, and the operator's answer decides what happens to it.
#include <QImage>
#include <QLabel>
#include <filesystem>
#include <mutex>

#include "kernel/default-channels.h"
#include "support/cups-sandbox.h"
#include "ui/desktop-fixture.h"

namespace vellumora::test {
namespace {

namespace fs = std::filesystem;

class PreviewPrintTest : public DesktopFixture {
 protected:
  void SetUp() override {
    RecordLogLines();
    folder = dir.path() / "in";
    fs::create_directories(folder);
    kernel->ReadSettings(false);
    SpareChannelSlot(*kernel) = NewChannelRecord(folder.string(), CupsSandbox::kRawQueue, 1);
    ASSERT_TRUE(kernel->SaveSettings(true));
    ASSERT_EQ(kernel->channelCount, 1);
  }
  void TearDown() override {
    if (engine().Running()) {
      engine().RequestStop();
      PumpUntil([&] { return !engine().Running(); });
    }
  }

  // A picture written beside the folder and moved in whole.
  fs::path DropPicture(const char* name) {
    QImage picture(600, 400, QImage::Format_RGB32);
    picture.fill(QColor(30, 90, 200));
    const fs::path staged = dir.path() / name;
    EXPECT_TRUE(picture.save(QString::fromStdString(staged.string()), "PNG"));
    fs::rename(staged, folder / name);
    return folder / name;
  }

  fs::path folder;
};

TEST_F(PreviewPrintTest, TheOperatorsAnswerDecides) {
  struct Case {
    const char* answer;  // the button pressed; "hidden": the window is in the tray
    size_t jobs;
    const char* line;
  } cases[] = {
      {"BNprint", 1, "File was successfully sent to printer "},
      {"BNskip", 0, "File was ignored by user"},
      {"hidden", 1, "File was successfully sent to printer "},
  };
  CupsSandbox& cups = CupsSandbox::Get();
  window().show();
  Find<QPushButton>("BNstartStop")->click();
  ASSERT_TRUE(engine().Running());
  ASSERT_TRUE(PumpUntil([&] { return Find<QLabel>("Panel")->text() == ui::kStateScanning; }));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ASSERT_TRUE(cups.Reset());
    {
      std::lock_guard lock(logLinesMutex);
      logLines.clear();
    }
    const bool hidden = std::string(c.answer) == "hidden";
    if (hidden) window().hide();
    const fs::path picture = DropPicture("photo.png");
    if (!hidden) {
      auto* button = Find<QPushButton>(c.answer);
      ASSERT_TRUE(PumpUntil([&] { return button->isEnabled(); }));
      EXPECT_TRUE(Find<QLabel>("IMprev")->isVisible());
      EXPECT_FALSE(Find<QPushButton>("BNstartStop")->isEnabled());
      button->click();
    }
    // Printed or skipped, the file is disposed of (deleted) either way.
    ASSERT_TRUE(PumpUntil([&] { return !fs::exists(picture) && Logged(c.line); }, 30'000));
    EXPECT_EQ(cups.WaitForJobs(CupsSandbox::kRawQueue, c.jobs, std::chrono::seconds(10)).size(),
              c.jobs);
    if (hidden) {
      EXPECT_FALSE(Find<QLabel>("IMprev")->isVisibleTo(&window()));
      window().show();
    }
  }
  // Stop: the engine thread ends and the window returns to inactive.
  PumpUntil([&] { return Find<QPushButton>("BNstartStop")->isEnabled(); });
  Find<QPushButton>("BNstartStop")->click();
  ASSERT_TRUE(PumpUntil([&] { return !engine().Running(); }));
  ASSERT_TRUE(PumpUntil([&] { return Find<QLabel>("Panel")->text() == ui::kStateInactive; }));
}

// A stop while the preview waits leaves the file in its folder for the next start.
TEST_F(PreviewPrintTest, AStopDuringTheWaitKeepsTheFile) {
  window().show();
  Find<QPushButton>("BNstartStop")->click();
  const fs::path picture = DropPicture("later.png");
  auto* print = Find<QPushButton>("BNprint");
  ASSERT_TRUE(PumpUntil([&] { return print->isEnabled(); }));
  // The start/stop button is off while the decision is awaited: the stop comes from closing.
  engine().RequestStop();
  ASSERT_TRUE(PumpUntil([&] { return !engine().Running(); }));
  EXPECT_TRUE(fs::exists(picture));
  EXPECT_TRUE(CupsSandbox::Get().CapturedJobs(CupsSandbox::kRawQueue).empty());
  EXPECT_FALSE(print->isEnabled());
}

}  // namespace
}  // namespace vellumora::test
