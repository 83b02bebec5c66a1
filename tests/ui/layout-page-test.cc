// The page layout page against the private print server's PostScript queue (A4, 300 dpi):
// loading and storing a channel's layout, the dependency rules and border limits, the delayed
// update, the paper list and paper size test on the real queue, the preview's sample and the
// real-file preview.
#include <QListWidget>
#include <QSpinBox>
#include <QTest>
#include <cstring>
#include <filesystem>

#include "kernel/default-channels.h"
#include "kernel/text-fields.h"
#include "kernel/units.h"
#include "output/page-proof.h"
#include "platform/printers.h"
#include "support/cups-sandbox.h"
#include "ui/desktop-fixture.h"
#include "ui/layout-rules.h"
#include "ui/preview-frame.h"
#include "ui/qt-bitmap.h"
#include "ui/setup-dialog.h"

namespace vellumora::test {
namespace {

namespace fs = std::filesystem;
using ui::BorderMm;
using ui::SampleOptions;

std::string DefaultMedia(const char* queue) {
  return PrinterDefault(queue, "media-default");
}

class LayoutPageTest : public DesktopFixture {
 protected:
  void SetUp() override {
    RecordLogLines();
    folder = dir.path() / "in";
    fs::create_directories(folder);
    ASSERT_EQ(printers::SetDefaultMedia(CupsSandbox::kPostScriptQueue, "iso_a4_210x297mm"),
              printers::WriteResult::kOk);
    setup().paperTestSuccessMs = 0;
    setup().paperTestFailureMs = 0;
  }
  void TearDown() override {
    printers::SetDefaultMedia(CupsSandbox::kPostScriptQueue, "iso_a4_210x297mm");
  }

  // One saved channel to `printer` with the queue's page and `edit` applied, shown in the
  // dialog's page layout page.
  void ShowChannel(const std::string& printer,
                   const std::function<void(PrintChannel&)>& edit = {}) {
    kernel->ReadSettings(false);
    PrintChannel c = NewChannelRecord(folder.string(), printer, 1);
    PageGeometry g;
    if (printer != "SCREEN") {
      ASSERT_TRUE(outputs->ReadPrinterMetrics(printer, g));
      TakeMeasuredPage(c, g);
    }
    if (edit) edit(c);
    SpareChannelSlot(*kernel) = c;
    ASSERT_TRUE(kernel->SaveSettings(true));
    setup().editIndex = 0;
    setup().show();
    setup().PageControl1->setCurrentWidget(setup().TabSheet4);
    setup().LoadChannelControls(true);
  }
  ui::TForm1& setup() { return desktop->setupDialog(); }
  // The channel as a fresh start reads it from disk.
  PrintChannel Saved() {
    C_Kernel reread(kernel->dataDir);
    reread.ReadSettings(false);
    return reread.channels.at(0);
  }
  // Lets the delayed update run (or not) within `ms`.
  static void Pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      QThread::msleep(5);
    }
  }

  fs::path folder;
};

TEST_F(LayoutPageTest, LoadingShowsTheChannelsPageInMillimetresAndDots) {
  ShowChannel(CupsSandbox::kPostScriptQueue, [](PrintChannel& c) {
    // Borders of 10, 20, 15 and 25 mm; a note, codes, a font.
    c.geometry.borderRect = {MmToDots(10, 300), MmToDots(20, 300),
                             c.geometry.paperRect.right - MmToDots(15, 300),
                             c.geometry.paperRect.bottom - MmToDots(25, 300)};
    WriteField(c.headerText, "Page <P> of <A>");
    c.notePosition = 'B';
    WriteField(c.startCode,
               "\x1b"
               "E\xe9");
    c.stretch = 1;
    c.portrait = 0;
    c.landscape = 0;  // not opposite in the file: the page shows them opposite
    c.pdfNoFit = 1;
    c.pdfUseDocDefaults = 0;
    c.fontSize = 0;
    c.fontStyle = 1 | 4;
    c.paperSize = 9;  // A4
  });
  ui::TForm1& s = setup();
  EXPECT_EQ(s.EDwidthmm->text(), "210");
  EXPECT_EQ(s.EDheightmm->text(), "297");
  EXPECT_EQ(s.LBwidthdots->text(), QString("%1 dots").arg(MmToDots(210, 300)));
  EXPECT_EQ(s.LBheightdots->text(), QString("%1 dots").arg(MmToDots(297, 300)));
  EXPECT_EQ(s.LBdpiX->text(), "300 dpi");
  EXPECT_TRUE(s.LBprnWidthMM->text().endsWith(" mm"));
  EXPECT_EQ(std::vector<int>({s.SEborderL->value(), s.SEborderT->value(), s.SEborderR->value(),
                              s.SEborderB->value()}),
            std::vector<int>({10, 20, 15, 25}));
  EXPECT_EQ(s.EDheader->text(), "Page <P> of <A>");
  EXPECT_TRUE(s.RBnote[1]->isChecked());
  EXPECT_EQ(s.EDstart->text(), QString::fromLatin1("\x1b"
                                                   "E\xe9"));
  EXPECT_TRUE(s.CBlandscape->isChecked());
  EXPECT_FALSE(s.CBportrait->isChecked());
  EXPECT_FALSE(s.CBfitPdf->isChecked());
  EXPECT_EQ(s.LBpreview->font().family(), "Arial");
  EXPECT_EQ(s.LBpreview->font().pointSize(), 10);
  EXPECT_TRUE(s.LBpreview->font().bold() && s.LBpreview->font().underline());
  // The queue's papers, its A4 chosen (paper code 9).
  ASSERT_GT(s.LIpapers->count(), 1);
  ASSERT_GE(s.LIpapers->currentRow(), 0);
  EXPECT_EQ(s.paperIds[s.LIpapers->currentRow()], 9);
  EXPECT_TRUE(s.LIpapers->currentItem()->text().contains("(210 x 297) mm²"));

  // What was loaded stores back byte for byte, apart from what the page shows otherwise: the
  // orientations opposite, the font's defaults.
  PrintChannel expected = kernel->channels[0];
  expected.landscape = 1;
  expected.fontSize = 10;
  WriteField(expected.fontName, "Arial");
  s.StoreChannelControls();
  EXPECT_EQ(std::memcmp(&expected, &s.editChannel, sizeof expected), 0);
  EXPECT_EQ(ReadField(s.editChannel.startCode),
            "\x1b"
            "E\xe9");
}

TEST(LayoutRulesTest, BorderLimitsKeepTenMillimetresAndTheUnprintableMargin) {
  const BorderMm none{0, 0, 0, 0};
  struct Case {
    const char* what;
    BorderMm in;
    int32_t width, height;
    BorderMm unprintable, out;
  } cases[] = {
      {"within the limits", {10, 20, 30, 40}, 210, 297, none, {10, 20, 30, 40}},
      {"left leaves less than 10 mm beside the right",
       {150, 0, 60, 0},
       210,
       297,
       none,
       {140, 0, 60, 0}},
      {"top leaves less than 10 mm above the bottom",
       {0, 250, 0, 50},
       210,
       297,
       none,
       {0, 237, 0, 50}},
      {"right wider than the paper: left from the width alone",
       {30, 0, 205, 0},
       210,
       297,
       none,
       {0, 0, 205, 0}},
      {"bottom higher than the paper: top from the height alone",
       {0, 40, 0, 300},
       210,
       297,
       none,
       {0, 0, 0, 300}},
      {"left beyond the paper", {400, 0, 0, 0}, 210, 297, none, {200, 0, 0, 0}},
      {"inside the unprintable margin", {1, 2, 3, 0}, 210, 297, {4, 4, 4, 4}, {4, 4, 4, 4}},
      {"the margin wins over the 10 mm",
       {150, 0, 60, 0},
       210,
       297,
       {145, 0, 0, 0},
       {145, 0, 60, 0}},
      {"no paper: unchanged", {400, 400, 0, 0}, 0, 297, {4, 4, 4, 4}, {400, 400, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const BorderMm got = ui::LimitBorders(c.in, c.width, c.height, c.unprintable);
    EXPECT_EQ(std::vector<int>({got.left, got.top, got.right, got.bottom}),
              std::vector<int>({c.out.left, c.out.top, c.out.right, c.out.bottom}));
  }
}

TEST(LayoutRulesTest, TheSampleGoesWhereTheOptionsWouldPutAPicture) {
  const int32_t w = 2400, h = 3300;  // the image area in dots
  struct Case {
    const char* what;
    SampleOptions options;
    int32_t widthDots;
    bool landscapeSample;
    Rect32 rect;
  } cases[] = {
      {"portrait", {true, false, false, false, false}, 2480, true, {0, 0, 2 * w / 3, 3 * w / 8}},
      {"portrait stretched", {true, true, false, false, false}, 2480, true, {0, 0, w, 5 * w / 8}},
      {"portrait stretched, any ratio", {true, true, true, false, false}, 2480, true, {0, 0, w, h}},
      {"portrait without a paper width",
       {true, false, false, false, false},
       0,
       false,
       {w - 3 * h / 8, 0, w, 2 * h / 3}},
      {"landscape",
       {false, false, false, false, false},
       2480,
       false,
       {w - 3 * h / 8, 0, w, 2 * h / 3}},
      {"landscape stretched",
       {false, true, false, false, false},
       2480,
       false,
       {w - 5 * h / 8, 0, w, h}},
      {"landscape stretched, any ratio",
       {false, true, true, false, false},
       2480,
       false,
       {0, 0, w, h}},
      {"portrait centred",
       {true, false, false, true, false},
       2480,
       true,
       {(w - 2 * w / 3) / 2, (h - 3 * w / 8) / 2, (w + 2 * w / 3) / 2, (h + 3 * w / 8) / 2}},
      {"centred across only with a paper length from the picture",
       {true, false, false, true, true},
       2480,
       true,
       {(w - 2 * w / 3) / 2, 0, (w + 2 * w / 3) / 2, 3 * w / 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ui::SamplePlacement got = ui::PlaceSample(w, h, c.widthDots, c.options);
    EXPECT_EQ(got.landscapeSample, c.landscapeSample);
    EXPECT_EQ(std::vector<int>({got.rect.left, got.rect.top, got.rect.right, got.rect.bottom}),
              std::vector<int>({c.rect.left, c.rect.top, c.rect.right, c.rect.bottom}));
  }
}

TEST_F(LayoutPageTest, BordersAreLimitedOnThePageAndTheSampleFollowsTheBoxes) {
  ShowChannel(CupsSandbox::kPostScriptQueue);
  ui::TForm1& s = setup();
  s.SEborderB->setValue(50);
  s.SEborderT->setValue(260);
  s.UpdateLayoutControls();
  EXPECT_EQ(s.SEborderT->value(), 297 - 50 - 10);
  // Unprintable margins of the queue: no border is smaller.
  const Rect32& p = s.editChannel.geometry.printRect;
  s.SEborderL->setValue(0);
  s.UpdateLayoutControls();
  EXPECT_EQ(s.SEborderL->value(), DotsToMm(p.left, 300));

  for (QSpinBox* b : {s.SEborderL, s.SEborderT, s.SEborderR, s.SEborderB}) b->setValue(20);
  s.UpdateLayoutControls();
  // Ignoring the aspect ratio leaves no centring.
  s.CBcenter->setChecked(true);
  s.CBignoreAratio->setChecked(true);
  EXPECT_FALSE(s.CBcenter->isEnabled());
  EXPECT_FALSE(s.CBcenter->isChecked());
  // The preview draws the sample where the rules put it.
  s.CBignoreAratio->setChecked(false);
  s.CBportrait->setChecked(true);
  s.CBstretch->setChecked(true);
  s.StoreChannelControls();
  s.DrawLayoutPreview();
  const Rect32& b = s.editChannel.geometry.borderRect;
  const int32_t w = b.right - b.left;
  EXPECT_EQ(s.FRpreview->property("sampleRect").toRect(),
            QRect(QPoint(0, 0), QPoint(w, 5 * w / 8)));
  EXPECT_EQ(s.FRpreview->property("sample").toString(), "PREV_HOR");
  EXPECT_GT(s.FRpreview->scale, 0);
  EXPECT_EQ(s.FRpreview->LBmmWidth->text(), " 210 mm ");
  // The image area is the preview's blue, with the sample in its top left corner.
  const QImage& surface = s.FRpreview->surface;
  EXPECT_EQ(surface.pixelColor(surface.width() - 2, surface.height() - 2), QColor(213, 224, 255));
  EXPECT_NE(surface.pixelColor(3, 3), QColor(213, 224, 255));
}

TEST_F(LayoutPageTest, PaperControlBoxesExcludeEachOtherAndForceTheirOptions) {
  ShowChannel(CupsSandbox::kPostScriptQueue, [](PrintChannel& c) {
    c.landscape = 1;
    c.portrait = 0;
    c.ignoreAratio = 1;
  });
  ui::TForm1& s = setup();
  s.CBdynPaperLength->click();
  s.UpdateLayoutControls();
  EXPECT_TRUE(s.EDheightmm->isHidden());
  EXPECT_TRUE(s.LBheightdots->isHidden());
  EXPECT_TRUE(s.FRpreview->IMvarHeight->isVisibleTo(s.FRpreview));
  EXPECT_TRUE(s.CBportrait->isChecked());
  EXPECT_FALSE(s.CBlandscape->isChecked());
  EXPECT_TRUE(s.CBstretch->isChecked());
  EXPECT_FALSE(s.CBignoreAratio->isChecked());
  EXPECT_FALSE(s.CBsetOrientation->isEnabled());

  s.CBfixedPaperSize->click();
  EXPECT_FALSE(s.CBdynPaperLength->isChecked());
  s.UpdateLayoutControls();
  EXPECT_FALSE(s.EDheightmm->isHidden());
  EXPECT_FALSE(s.CBsetOrientation->isEnabled());
  // The other way round, and a box set by code is no click.
  s.CBdynPaperLength->click();
  EXPECT_FALSE(s.CBfixedPaperSize->isChecked());
  s.CBfixedPaperSize->setChecked(true);
  EXPECT_TRUE(s.CBdynPaperLength->isChecked());

  // Unchecking a paper control box reads the printer's paper again.
  s.EDwidthmm->setText("99");
  s.CBfixedPaperSize->click();  // off
  EXPECT_EQ(s.EDwidthmm->text(), "210");
}

TEST_F(LayoutPageTest, ABurstOfChangesIsAppliedOnceASecondAfterTheLast) {
  ShowChannel(CupsSandbox::kPostScriptQueue);
  ui::TForm1& s = setup();
  const int32_t before = s.editChannel.geometry.borderRect.left;
  for (int mm : {20, 21, 22}) {
    s.SEborderL->setValue(mm);
    Pump(300);
  }
  EXPECT_TRUE(s.TimerUpdatePRCH->isActive());
  EXPECT_EQ(s.TimerUpdatePRCH->interval(), 1000);
  EXPECT_EQ(s.editChannel.geometry.borderRect.left, before);
  Pump(1200);
  EXPECT_FALSE(s.TimerUpdatePRCH->isActive());
  EXPECT_EQ(s.editChannel.geometry.borderRect.left, MmToDots(22, 300));
  // The change check runs again after the update.
  EXPECT_TRUE(s.TimerCheckChanges->isActive());
}

TEST_F(LayoutPageTest, ATypedPaperSizeIsTriedOnTheQueue) {
  ShowChannel(CupsSandbox::kPostScriptQueue);
  ui::TForm1& s = setup();
  s.TimerCheckChanges->stop();
  s.CBfixedPaperSize->click();
  s.EDwidthmm->selectAll();
  QTest::keyClicks(s.EDwidthmm, "148");
  EXPECT_TRUE(s.paperDimsEdited);
  EXPECT_EQ(s.TimerUpdatePRCH->interval(), 3000);
  // Number pad digits are no typed size.
  s.paperDimsEdited = false;
  QTest::keyClick(s.EDwidthmm, Qt::Key_4, Qt::KeypadModifier);
  EXPECT_FALSE(s.paperDimsEdited);
  s.EDwidthmm->setText("148");
  s.paperDimsEdited = true;
  s.RestartLayoutTimer();

  // The change check's store while the update is pending tries nothing yet: the user may
  // still be typing.
  s.StoreChannelControls();
  EXPECT_TRUE(s.paperDimsEdited);
  EXPECT_EQ(s.LBresult->text(), "");
  EXPECT_EQ(DefaultMedia(CupsSandbox::kPostScriptQueue), "iso_a4_210x297mm");

  s.TimerUpdatePRCHTimer();  // the update falls due
  s.TimerCheckChanges->stop();
  EXPECT_FALSE(s.paperDimsEdited);
  EXPECT_EQ(s.LBresult->text(), "Paper size control by Vellumora established");
  EXPECT_TRUE(s.CBfixedPaperSize->isChecked());
  EXPECT_EQ(s.editChannel.geometry.paperRect.right, MmToDots(148, 300));
  EXPECT_NE(DefaultMedia(CupsSandbox::kPostScriptQueue).find("148x297mm"), std::string::npos);
  EXPECT_TRUE(s.PNtestNewSize->isHidden());

  // The size the printer has already: nothing changes, so it counts as not controlled.
  s.BNgetCurrentPaperSettings->click();
  s.paperDimsEdited = true;
  s.TimerUpdatePRCHTimer();
  s.TimerCheckChanges->stop();
  EXPECT_EQ(s.LBresult->text(), "Paper size cannot be controlled by Vellumora. Option disabled");
  EXPECT_FALSE(s.CBfixedPaperSize->isChecked());
  EXPECT_FALSE(s.CBdynPaperLength->isChecked());
}

TEST_F(LayoutPageTest, AChosenPaperBecomesTheQueuesDefault) {
  ShowChannel(CupsSandbox::kPostScriptQueue);
  ui::TForm1& s = setup();
  const QList<QListWidgetItem*> letter =
      s.LIpapers->findItems("Letter (216 x 279)", Qt::MatchStartsWith);
  ASSERT_EQ(letter.size(), 1);
  QListWidget* list = s.LIpapers;
  list->scrollToItem(letter[0]);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(letter[0]).center());
  EXPECT_EQ(DefaultMedia(CupsSandbox::kPostScriptQueue), "na_letter_8.5x11in");
  EXPECT_EQ(s.editChannel.paperSize, 1);  // Windows' code of Letter
  EXPECT_EQ(s.EDwidthmm->text(), "216");
  EXPECT_EQ(s.paperIds[s.LIpapers->currentRow()], 1);
  EXPECT_TRUE(s.TimerUpdatePRCH->isActive());
}

TEST_F(LayoutPageTest, AChannelLoadedAfterAnotherKeepsItsOwnOptions) {
  // The first channel ignores the aspect ratio (which leaves no centring); the second is
  // centred and must stay so when shown after it.
  ShowChannel(CupsSandbox::kPostScriptQueue, [](PrintChannel& c) {
    c.ignoreAratio = 1;
    c.stretch = 1;
  });
  ui::TForm1& s = setup();
  SpareChannelSlot(*kernel) = kernel->channels[0];
  kernel->channels[1].ignoreAratio = 0;
  kernel->channels[1].center = 1;
  // A damaged page: borders far outside a tiny sheet.
  kernel->channels[1].geometry.paperRect = {0, 0, 100, 100};
  kernel->channels[1].geometry.borderRect = {-5, -5, 2000000000, 2000000000};
  ASSERT_TRUE(kernel->SaveSettings(true));
  s.editIndex = 1;
  s.LoadChannelControls(true);
  EXPECT_TRUE(s.CBcenter->isChecked());
  EXPECT_EQ(s.savedChannel.center, 1);
  EXPECT_LE(s.FRpreview->surface.width(), ui::TFR_Preview::kWidth);
  EXPECT_LE(s.FRpreview->surface.height(), ui::TFR_Preview::kHeight);
}

TEST_F(LayoutPageTest, TheScreenCoversThePictureOptions) {
  ShowChannel("SCREEN");
  ui::TForm1& s = setup();
  EXPECT_TRUE(s.PNscreen->isVisible());
  EXPECT_EQ(s.PNscreen->geometry(), s.GBbitmap->geometry());
  EXPECT_EQ(s.IMtarget2->property("picture").toString(), "SCREEN100");
  EXPECT_EQ(s.LIpapers->count(), 0);
}

TEST_F(LayoutPageTest, TheFontChosenIsStored) {
  ShowChannel(CupsSandbox::kPostScriptQueue);
  ui::TForm1& s = setup();
  QFont chosen(QStringLiteral("DejaVu Serif"), 14);
  chosen.setItalic(true);
  chosen.setStrikeOut(true);
  s.chooseFont = [&](const QFont&) { return std::optional<QFont>(chosen); };
  s.BNfont->click();
  s.StoreChannelControls();
  EXPECT_EQ(ReadField(s.editChannel.fontName), "DejaVu Serif");
  EXPECT_EQ(s.editChannel.fontSize, 14);
  EXPECT_EQ(s.editChannel.fontStyle, 2 | 8);
  // Cancelled: the font stays.
  s.chooseFont = [](const QFont&) { return std::optional<QFont>(); };
  s.BNfont->click();
  EXPECT_EQ(s.LBpreview->font().family(), "DejaVu Serif");
}

TEST_F(LayoutPageTest, TheRealFilePreviewShowsThePageWithTheUnsavedSettings) {
  ShowChannel(CupsSandbox::kPostScriptQueue);
  ui::TForm1& s = setup();
  const QString sample = QString::fromStdString(ShareDirectory()) + "/TestFile.jpg";
  QString offered;
  s.choosePreviewFile = [&](const QString& start) {
    offered = start;
    return start;
  };
  // An unsaved border of 60 mm on every side.
  for (QSpinBox* b : {s.SEborderL, s.SEborderT, s.SEborderR, s.SEborderB}) b->setValue(60);
  s.CBstretch->setChecked(true);
  s.CBportrait->setChecked(true);
  s.BNrealPreview->click();
  EXPECT_EQ(fs::path(offered.toStdString()), fs::path(sample.toStdString()));
  ASSERT_TRUE(s.realPreview);
  auto* shown = s.realPreview->findChild<QLabel*>("IMrealPreview");
  ASSERT_NE(shown, nullptr);
  const QImage image = shown->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_FALSE(image.isNull());

  // The page the engine composes for those settings, pixel for pixel.
  const PageProof proof = ProofPicturePage(*outputs, s.editChannel, sample.toStdString(),
                                           900.0 / s.editChannel.geometry.paperRect.bottom);
  ASSERT_TRUE(proof.ok) << proof.error;
  EXPECT_EQ(image, ui::ToQImage(proof.page).convertToFormat(QImage::Format_RGB32));
  // Inside the 60 mm border nothing is drawn; the picture fills the middle.
  const double perMm = image.width() / 210.0;
  EXPECT_EQ(image.pixelColor(int(30 * perMm), image.height() / 2), QColor(Qt::white));
  // The picture begins at the top border (the sample's colour bars just below it).
  EXPECT_NE(image.pixelColor(image.width() / 2, int(75 * perMm)), QColor(Qt::white));
  EXPECT_EQ(Saved().geometry.borderRect.top, 0) << "nothing was saved";
}

}  // namespace
}  // namespace vellumora::test
