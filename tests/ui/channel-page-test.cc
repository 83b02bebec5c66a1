// The setup dialog's channel page driven offscreen by object name: the grid, the editing
// cycle, saving, appending, creating and deleting channels, and the input folder rules.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <filesystem>

#include "kernel/default-channels.h"
#include "kernel/text-fields.h"
#include "support/test-account.h"
#include "ui/desktop-fixture.h"
#include "ui/general-page.h"
#include "ui/schedule-frame.h"
#include "ui/setup-dialog.h"

namespace vellumora::test {
namespace {

namespace fs = std::filesystem;

class ChannelPageTest : public DesktopFixture {
 protected:
  ui::TForm1& dialog() { return desktop->setupDialog(); }
  // `count` channels to the screen, each with an empty input folder of its own, saved and
  // shown in the grid; the first one is loaded.
  void MakeChannels(int count) {
    kernel->channels.clear();
    for (int i = 0; i < count; ++i) {
      const fs::path folder = dir.path() / ("in" + std::to_string(i + 1));
      fs::create_directories(folder);
      kernel->channels.push_back(NewChannelRecord(folder.string(), "SCREEN", 10 + i));
      // A page at 254 dpi, where a millimetre is ten dots: the layout page's controls keep it.
      PageGeometry& g = kernel->channels.back().geometry;
      g.dpiX = g.dpiY = 254;
      g.paperRect = g.printRect = {0, 0, 2100, 2970};
      g.borderRect = {40, 50, 2000, 2800};
    }
    kernel->channels.push_back(EmptyChannel());
    kernel->channelCount = count;
    ASSERT_TRUE(kernel->SaveSettings(false));
    dialog().Open();
    dialog().PageControl1->setCurrentWidget(dialog().TabSheet2);
    dialog().editIndex = 0;
    dialog().LoadChannelControls(true);
  }
  // The channels as a fresh start reads them from disk.
  std::vector<PrintChannel> Saved() {
    C_Kernel reread(dir.path().string() + "/");
    reread.ReadSettings(false);
    reread.channels.resize(reread.channelCount);
    return reread.channels;
  }
  void AnswerQuestions(char answer) {
    desktop->infoWindow().answerHook = [answer](ui::TFormInfo&) { return answer; };
  }
  QTableWidget* grid() { return dialog().PCMatrix2; }
  int RowOfId(int id) {
    for (int r = 0; r < grid()->rowCount(); ++r)
      if (grid()->item(r, 0)->data(Qt::DisplayRole).toInt() == id) return r;
    return -1;
  }
  bool Unsaved() {
    dialog().TimerCheckChangesTimer();
    return dialog().BNoverwriteChannel->isEnabled();
  }
};

TEST_F(ChannelPageTest, TheGridListsTheChannelsAndASelectedRowLoadsItsChannel) {
  MakeChannels(3);
  ASSERT_EQ(grid()->rowCount(), 3);
  EXPECT_EQ(grid()->item(RowOfId(2), 1)->text().toStdString(), (dir.path() / "in2").string());
  EXPECT_EQ(grid()->item(RowOfId(2), 2)->text(), "SCREEN");
  EXPECT_EQ(grid()->item(RowOfId(2), 3)->text(), "Default");
  grid()->cellClicked(RowOfId(2), 1);
  EXPECT_EQ(dialog().editIndex, 1);
  EXPECT_EQ(dialog().SEfreq->value(), 11);
  EXPECT_EQ(dialog().EDsourceFolder->text().toStdString(), (dir.path() / "in2").string());
  EXPECT_EQ(dialog().LBfolderMessage->text(), "Folder access verified");
  EXPECT_EQ(dialog().PageControl1->tabText(2), "Print channel (2) page layout settings (optional)");
  // A loaded channel is no unsaved edit; the test printouts may run.
  EXPECT_FALSE(Unsaved());
  EXPECT_TRUE(dialog().BNtestBMP->isEnabled());
  EXPECT_FALSE(dialog().BNappendChannel->isEnabled());
  // The arrows of the page layout page walk through the channels.
  dialog().BNchUpClick();
  EXPECT_EQ(dialog().editIndex, 2);
  dialog().BNchUpClick();
  EXPECT_EQ(dialog().editIndex, 2);
  dialog().BNchDnClick();
  EXPECT_EQ(dialog().editIndex, 1);
}

TEST_F(ChannelPageTest, AnEditIsSignalledUntilSavedAndBlocksTheTestPrintouts) {
  MakeChannels(2);
  dialog().SEcopies->setValue(3);
  dialog().days[5]->CB->setChecked(false);
  EXPECT_TRUE(Unsaved());
  EXPECT_TRUE(dialog().BNappendChannel->isEnabled());
  EXPECT_FALSE(dialog().BNtestBMP->isEnabled());
  EXPECT_FALSE(dialog().BNtestPRN->isEnabled());
  const bool shown = dialog().LBsavesignal->isVisibleTo(&dialog());
  dialog().TimerCheckChangesTimer();
  EXPECT_NE(dialog().LBsavesignal->isVisibleTo(&dialog()), shown);  // it blinks

  dialog().BNoverwriteChannel->click();
  EXPECT_FALSE(Unsaved());
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].copies, 3);
  EXPECT_EQ(saved[0].dayActive[5], 0);
  EXPECT_EQ(saved[1].copies, 1);

  // Selecting another row drops an unsaved edit.
  dialog().SEfreq->setValue(99);
  grid()->cellClicked(RowOfId(2), 1);
  grid()->cellClicked(RowOfId(1), 1);
  EXPECT_EQ(dialog().SEfreq->value(), 10);
}

TEST_F(ChannelPageTest, TheActiveBoxOfARowSavesAtTheNextChangeCheck) {
  MakeChannels(2);
  grid()->cellClicked(RowOfId(2), 4);
  EXPECT_EQ(dialog().editIndex, 1);
  dialog().TimerCheckChangesTimer();
  auto saved = Saved();
  EXPECT_EQ(saved[1].active, 0);
  EXPECT_EQ(saved[0].active, 1);
  EXPECT_EQ(grid()->item(RowOfId(2), 4)->data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  grid()->cellClicked(RowOfId(2), 4);
  dialog().TimerCheckChangesTimer();
  EXPECT_EQ(Saved()[1].active, 1);
}

TEST_F(ChannelPageTest, AnActiveClickBelongsToItsChannel) {
  MakeChannels(2);
  grid()->cellClicked(RowOfId(2), 4);
  grid()->cellClicked(RowOfId(1), 1);  // another channel before the change check
  EXPECT_FALSE(Unsaved());
  const auto saved = Saved();
  EXPECT_EQ(saved[0].active, 1);
  EXPECT_EQ(saved[1].active, 1);
}

TEST_F(ChannelPageTest, TheFirstStartsPendingSaveSavesTheNextChangeAndClosesTheDialog) {
  MakeChannels(1);
  dialog().settingsDirty = true;
  dialog().SEfreq->setValue(33);
  dialog().TimerCheckChangesTimer();
  EXPECT_EQ(Saved()[0].freq, 33);
  EXPECT_FALSE(dialog().isVisible());
  EXPECT_FALSE(dialog().settingsDirty);
  // Opened by hand, the dialog has no pending save of the first start.
  dialog().settingsDirty = true;
  dialog().Open();
  EXPECT_FALSE(dialog().settingsDirty);
}

TEST_F(ChannelPageTest, DeletingAsksFirstAndSelectsTheChannelBefore) {
  MakeChannels(3);
  grid()->cellClicked(RowOfId(2), 1);
  AnswerQuestions(ui::kAnswerNo);
  grid()->cellClicked(RowOfId(3), 5);
  EXPECT_EQ(Saved().size(), 3u);     // NO keeps it
  EXPECT_EQ(dialog().editIndex, 1);  // and the channel shown stays shown

  AnswerQuestions(ui::kAnswerYes);
  grid()->cellClicked(RowOfId(2), 5);
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(ReadField(saved[1].sourceFolder), (dir.path() / "in3").string());
  EXPECT_EQ(grid()->rowCount(), 2);
  EXPECT_EQ(dialog().editIndex, 0);  // the second-to-last gone: the one before is shown
  EXPECT_EQ(dialog().EDsourceFolder->text().toStdString(), (dir.path() / "in1").string());
}

TEST_F(ChannelPageTest, NothingChangesBeneathARunningScan) {
  MakeChannels(2);
  AnswerQuestions(ui::kAnswerYes);
  dialog().SEcopies->setValue(5);
  {
    struct Scanning {
      Scanning() { scanningActive = 1; }
      ~Scanning() { scanningActive = 0; }
    } scanning;
    dialog().BNoverwriteChannelClick();
    dialog().AskDeleteChannel(0);
    dialog().CreateNewChannel();
    grid()->cellClicked(RowOfId(2), 4);  // the Active box neither
  }
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].copies, 1);
  EXPECT_EQ(kernel->channelCount, 2);
  EXPECT_FALSE(dialog().activeToggled);
  EXPECT_EQ(dialog().StatusBar1->text(), "Stop scanning before changing print channels");
  EXPECT_TRUE(Unsaved());  // the edit waits for the scan to end
}

TEST_F(ChannelPageTest, DeletingTheOnlyChannelCreatesTheTwoDefaults) {
  MakeChannels(1);
  AnswerQuestions(ui::kAnswerYes);
  dialog().PCMatrix2KeyUp(Qt::Key_Delete);
  const auto saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(ReadField(saved[0].printerName), "SCREEN");
  EXPECT_EQ(ReadField(saved[0].sourceFolder), (dir.path() / "VellumoraFiles" / "Screen").string());
  EXPECT_EQ(grid()->rowCount(), 2);
  EXPECT_EQ(dialog().editIndex, 1);
}

TEST_F(ChannelPageTest, CreateTakesTheShownChannelButNotItsDriverSettingsAppendTakesThemToo) {
  MakeChannels(1);
  {
    PrintChannel& c = kernel->channels[0];
    c.driverSize = 4;
    std::memcpy(c.driverData, "ABCD", 4);
    ASSERT_TRUE(kernel->SaveSettings(false));
  }
  dialog().LoadChannelControls(true);
  EXPECT_EQ(grid()->item(0, 3)->text(), "Special settings");
  EXPECT_FALSE(Unsaved());
  EXPECT_FALSE(dialog().BNappendChannel->isEnabled());  // only with an edit

  dialog().SEfreq->setValue(44);
  ASSERT_TRUE(Unsaved());
  dialog().BNappendChannel->click();
  auto saved = Saved();
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[1].driverSize, 4);
  EXPECT_EQ(saved[1].freq, 44);
  EXPECT_EQ(saved[0].freq, 10);
  EXPECT_EQ(dialog().editIndex, 1);

  dialog().general->EDdefaultPrintFolder->setText(
      QString::fromStdString((dir.path() / "offered").string()));
  dialog().CreateNewChannel();
  saved = Saved();
  ASSERT_EQ(saved.size(), 3u);
  const PrintChannel& created = saved[2];
  EXPECT_EQ(created.driverSize, 0);
  EXPECT_EQ(created.copies, 1);
  EXPECT_EQ(created.freq, 10);
  EXPECT_EQ(ReadField(created.sourceFolder), (dir.path() / "offered").string());
  EXPECT_TRUE(fs::is_directory(dir.path() / "offered"));
  // Made for the group that drops files into it, whatever the umask.
  EXPECT_NE(fs::status(dir.path() / "offered").permissions() & fs::perms::group_write,
            fs::perms::none);
  EXPECT_EQ(created.active, 1);
  EXPECT_EQ(created.geometry.borderRect.left, 0);  // the left border only
  EXPECT_EQ(created.geometry.borderRect.top, 50);
  EXPECT_EQ(created.geometry.borderRect.right, 2000);
  EXPECT_EQ(ReadField(created.printerName), "SCREEN");
  for (int day = 0; day < kScheduleDays; ++day) {
    EXPECT_EQ(std::string(created.schedule[day], kScheduleEntrySize), "00:00 00:00 ");
    EXPECT_EQ(created.dayActive[day], 1);
  }
  EXPECT_EQ(dialog().editIndex, 2);
  EXPECT_FALSE(Unsaved());

  // Offered a folder that already holds files, the new channel starts switched off.
  WriteFileBytes(dir.path() / "offered" / "old.pdf", "%PDF");
  dialog().CreateNewChannel();
  saved = Saved();
  ASSERT_EQ(saved.size(), 4u);
  EXPECT_EQ(saved[3].active, 0);
}

TEST_F(ChannelPageTest, TheInputFolderRules) {
  MakeChannels(1);
  const fs::path full = dir.path() / "full";
  fs::create_directories(full);
  WriteFileBytes(full / "waiting.txt", "x");
  struct Case {
    std::string folder;
    const char* message;
    bool staysActive;
  } cases[] = {
      {"/", "Print file pickup from a local root folder is not allowed!", false},
      {"//srv/a", "Print file pickup from a remote root folder is not allowed!", false},
      {"//server", "", true},
      {(dir.path() / "missing").string(),
       "Folder not available or access privileges not sufficient!", false},
      {full.string(), "The folder is not empty. Already existing files may be deleted!", false},
      {(dir.path() / "in1").string(), "Folder access verified", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    dialog().CBprintPathActive->setChecked(true);
    dialog().EDsourceFolder->setText(QString::fromStdString(c.folder));
    EXPECT_EQ(dialog().LBfolderMessage->text().toStdString(), c.message);
    EXPECT_EQ(dialog().CBprintPathActive->isChecked(), c.staysActive);
    dialog().EDsourceFolder->setText(QString());
  }
  // The chooser's folder is taken and decides whether the channel stays active.
  dialog().chooseFolder = [&](const QString&, const QString&) {
    return QString::fromStdString(full.string());
  };
  dialog().BNdefineDirClick();
  EXPECT_EQ(dialog().EDsourceFolder->text().toStdString(), full.string());
  EXPECT_FALSE(dialog().CBprintPathActive->isChecked());
}

// The service runs as a throw-away account: the page says at once when that account could not
// use the folder, and the folders the dialog makes are that account's.
TEST_F(ChannelPageTest, ALineSaysWhenTheServiceCouldNotUseTheFolder) {
  TestAccount account;
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  MakeChannels(1);
  service->installed = true;
  service->accountName = account.name();
  const std::string sandbox = dir.path().string();
  // The sandbox is below /tmp unless TMPDIR says otherwise, and the installed service's /tmp is
  // its own.
  auto sandboxed = [&](const fs::path& folder) -> std::string {
    if (sandbox.rfind("/tmp/", 0) != 0) return "";
    return folder.string() +
           " lies below /tmp, which the service does not see (it has a private /tmp): use "
           "another folder";
  };
  auto expected = [&](std::vector<std::string> lines) {
    lines.erase(std::remove(lines.begin(), lines.end(), ""), lines.end());
    std::string text;
    for (const std::string& l : lines) text += (text.empty() ? "" : "\n") + l;
    return text;
  };
  QLabel* line = dialog().LBserviceFolder;

  const fs::path looked = dir.path() / "looked";
  fs::create_directories(looked);
  fs::permissions(looked, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  dialog().EDsourceFolder->setText(QString::fromStdString(looked.string()));
  EXPECT_EQ(dialog().LBfolderMessage->text(), "Folder access verified");  // the page's own check
  EXPECT_TRUE(line->isVisibleTo(&dialog()));
  EXPECT_EQ(line->text().toStdString(),
            expected({sandboxed(looked), "The service's account " + account.name() +
                                             " cannot use " + looked.string() + ": " +
                                             looked.string() + " does not give " + account.name() +
                                             " write permission. Fix: " + "vellumora-setup grant " +
                                             looked.string() + " --account " + account.name()}));

  // A folder made in the folder chooser is the service's at once.
  const fs::path made = dir.path() / "made";
  dialog().chooseFolder = [&](const QString&, const QString&) {
    fs::create_directory(made);
    return QString::fromStdString(made.string());
  };
  dialog().BNdefineDirClick();
  EXPECT_TRUE(account.CanUseFolder(made));
  EXPECT_EQ(line->text().toStdString(), expected({sandboxed(made)}));
  EXPECT_EQ(line->isVisibleTo(&dialog()), !sandboxed(made).empty());
  // One that was there before is not changed: it is only reported.
  dialog().chooseFolder = [&](const QString&, const QString&) {
    return QString::fromStdString(looked.string());
  };
  dialog().BNdefineDirClick();
  EXPECT_FALSE(account.CanUseFolder(looked));
  EXPECT_NE(line->text().indexOf(QStringLiteral("cannot use")), -1);

  // The missing input folder that saving creates, and the defaults that deleting the last
  // channel brings back, are the service's too.
  const fs::path fresh = dir.path() / "fresh" / "in";
  dialog().EDsourceFolder->setText(QString::fromStdString(fresh.string()));
  EXPECT_FALSE(line->isVisibleTo(&dialog()));  // the page's own message says it is missing
  dialog().BNoverwriteChannelClick();
  EXPECT_TRUE(account.CanUseFolder(fresh));
  EXPECT_EQ(line->text().toStdString(), expected({sandboxed(fresh)}));
  AnswerQuestions(ui::kAnswerYes);
  dialog().PCMatrix2KeyUp(Qt::Key_Delete);
  ASSERT_EQ(Saved().size(), 2u);
  for (const char* name : {"Screen", "Printer"})
    EXPECT_TRUE(account.CanUseFolder(dir.path() / "VellumoraFiles" / name)) << name;

  // A service that runs as root may use every folder.
  service->accountName = "LocalSystem";
  dialog().EDsourceFolder->setText(QString::fromStdString(looked.string()));
  EXPECT_EQ(line->text().toStdString(), expected({sandboxed(looked)}));
}

}  // namespace
}  // namespace vellumora::test
