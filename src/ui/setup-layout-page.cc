// The setup dialog's page layout page: paper, borders, scaling, orientation, the text note,
// the watermark, the PDF, raw and font options of the channel shown, with a live preview.
#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "kernel/text-fields.h"
#include "kernel/units.h"
#include "output/outputs.h"
#include "output/page-proof.h"
#include "output/picture-layout.h"
#include "platform/printers.h"
#include "ui/control-hints.h"
#include "ui/help-panel.h"
#include "ui/layout-rules.h"
#include "ui/preview-frame.h"
#include "ui/qt-bitmap.h"
#include "ui/setup-dialog.h"
#include "ui/setup-parts.h"

namespace vellumora::ui {

namespace {

const QColor kEditActive(Qt::white), kEditActiveText(Qt::black);
const QColor kEditPassive(219, 219, 219), kEditPassiveText(128, 128, 128);
const QColor kScreenPanel(190, 190, 190);
const QColor kResultGood(10, 201, 105), kResultBad(255, 0, 0);

constexpr int kShortDelayMs = 1000;
constexpr int kTypedSizeDelayMs = 3000;
constexpr int kFontNameChars = 63;
constexpr int kCodeChars = 127;
constexpr char kNotePositions[] = "ABCDEF";
// The real-file preview's page: no larger than this on its longer side, in pixels.
constexpr int kProofMaxPixels = 900;

// Runs `action` for each key released in the watched widget.
class KeyUpFilter : public QObject {
 public:
  KeyUpFilter(QObject* parent, std::function<void(const QKeyEvent&)> action)
      : QObject(parent), action_(std::move(action)) {}

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyRelease) action_(*static_cast<QKeyEvent*>(event));
    return false;
  }

 private:
  std::function<void(const QKeyEvent&)> action_;
};

void OnKeyUp(QWidget* widget, std::function<void(const QKeyEvent&)> action) {
  widget->installEventFilter(new KeyUpFilter(widget, std::move(action)));
}

// A grey panel that keeps the size and place of the widget it covers.
class CoverPanel : public QFrame {
 public:
  explicit CoverPanel(QWidget* covered) : QFrame(covered->parentWidget()), covered_(covered) {
    setAutoFillBackground(true);
    SetColour(this, QPalette::Window, kScreenPanel);
    covered->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
        event->type() == QEvent::Show)
      Follow();
    return false;
  }
  void showEvent(QShowEvent*) override { Follow(); }

 private:
  void Follow() {
    setGeometry(covered_->geometry());
    raise();
  }
  QWidget* covered_;
};

// A number typed into an edit, `fallback` when it is none.
int32_t Number(const QLineEdit* edit, int32_t fallback) {
  bool ok = false;
  const int value = edit->text().trimmed().toInt(&ok);
  return ok ? value : fallback;
}

QGroupBox* Group(const char* name, const char* title) {
  return Named(new QGroupBox(QString::fromLatin1(title)), name);
}

QCheckBox* Box(const char* name, const char* caption, const char* hint) {
  auto* box = Named(new QCheckBox(QString::fromLatin1(caption)), name);
  SetHint(box, QString::fromLatin1(hint));
  return box;
}

// A check box whose long caption wraps: the caption is a label beside the box, and a click on
// the label is a click on the box.
class CaptionLabel : public QLabel {
 public:
  CaptionLabel(const QString& text, QCheckBox* box) : QLabel(text), box_(box) { setWordWrap(true); }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && box_->isEnabled()) box_->click();
  }

 private:
  QCheckBox* box_;
};

QWidget* WrappedBox(QCheckBox* box) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* label = new CaptionLabel(box->text(), box);
  box->setText(QString());
  layout->addWidget(box, 0, Qt::AlignTop);
  layout->addWidget(label, 1);
  label->setEnabled(box->isEnabled());  // a box that is never enabled has a grey caption
  return row;
}

QSpinBox* BorderEdit(const char* name) {
  auto* edit = Named(new QSpinBox, name);
  edit->setRange(0, 500);
  SetHint(edit, QStringLiteral("#22"));
  return edit;
}

}  // namespace

// --- building the page --------------------------------------------------------------------

QWidget* TForm1::BuildLayoutPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet4"));
  auto* row = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  row->addLayout(left, 1);

  auto* head = new QHBoxLayout;
  IMtarget2 = Named(new QLabel, "IMtarget2");
  IMtarget2->setFixedSize(36, 36);
  IMtarget2->setScaledContents(true);
  IMtarget2->setPixmap(TargetPicture(false));
  IMtarget2->setProperty("picture", QStringLiteral("PRINTER100"));
  head->addWidget(IMtarget2);
  head->addWidget(BuildLayoutHeadline(), 1);
  left->addLayout(head);

  GBbitmap = Group("GBbitmap", " BMP JPG JPEG GIF PNG TIF bitmap graphic files ");
  auto* bitmapRow = new QHBoxLayout(GBbitmap);
  auto* previewColumn = new QVBoxLayout;
  FRpreview = new TFR_Preview;
  SetHint(FRpreview, QStringLiteral("#32"));
  previewColumn->addWidget(FRpreview);
  BNrealPreview =
      Named(new QPushButton(QStringLiteral("Preview with a real file")), "BNrealPreview");
  SetHint(BNrealPreview, QStringLiteral("#32"));
  previewColumn->addWidget(BNrealPreview);
  previewColumn->addStretch(1);
  bitmapRow->addLayout(previewColumn);
  bitmapRow->addWidget(BuildPaperGroup());
  auto* rightColumn = new QVBoxLayout;
  rightColumn->addWidget(BuildScalingGroup());
  rightColumn->addWidget(BuildNoteGroup());
  rightColumn->addStretch(1);
  bitmapRow->addLayout(rightColumn);
  left->addWidget(GBbitmap);
  left->addWidget(BuildFileTypeGroups());
  left->addStretch(1);

  PNscreen = Named(new CoverPanel(GBbitmap), "PNscreen");
  auto* screenText = new QLabel(
      QStringLiteral("The screen shows pictures in the main window: these options do not "
                     "apply to it."),
      PNscreen);
  screenText->setWordWrap(true);
  screenText->setGeometry(20, 20, 400, 60);
  PNscreen->hide();

  // The paper size test, over the preview.
  PNtestNewSize = Named(new QFrame(FRpreview), "PNtestNewSize");
  PNtestNewSize->setFrameShape(QFrame::Panel);
  PNtestNewSize->setAutoFillBackground(true);
  auto* test = new QGridLayout(PNtestNewSize);
  test->addWidget(new QLabel(QStringLiteral("Checking printer driver access ")), 0, 0);
  SHdriverAccess = Named(NewLamp(), "SHdriverAccess");
  test->addWidget(SHdriverAccess, 0, 1);
  LBsenddims =
      Named(new QLabel(QStringLiteral("Sending new paper dimensions to printer")), "LBsenddims");
  test->addWidget(LBsenddims, 1, 0, 1, 2);
  LBreceivedims =
      Named(new QLabel(QStringLiteral("Receiving related border values")), "LBreceivedims");
  test->addWidget(LBreceivedims, 2, 0, 1, 2);
  LBresult = Named(new QLabel, "LBresult");
  LBresult->setWordWrap(true);
  test->addWidget(LBresult, 3, 0, 1, 2);
  PNtestNewSize->setGeometry(10, 110, TFR_Preview::kWidth - 20, 140);
  PNtestNewSize->hide();

  HelpBitmap = HelpPanel("HelpBitmap", "#1");
  HelpBitmap->setFixedWidth(200);  // this page needs the room for its controls
  row->addWidget(HelpBitmap);

  TimerUpdatePRCH = Named(new QTimer(this), "TimerUpdatePRCH");
  connect(TimerUpdatePRCH, &QTimer::timeout, this, &TForm1::TimerUpdatePRCHTimer);

  chooseFont = [this](const QFont& shown) -> std::optional<QFont> {
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, shown, this, QStringLiteral("Print font"));
    if (!ok) return std::nullopt;
    return font;
  };
  choosePreviewFile = [this](const QString& start) {
    return QFileDialog::getOpenFileName(
        this, QStringLiteral("Picture to preview"), start,
        QStringLiteral("Pictures (*.bmp *.jpg *.jpeg *.gif *.png *.tif *.tiff "
                       "*.BMP *.JPG *.JPEG *.GIF *.PNG *.TIF *.TIFF)"));
  };
  connect(BNrealPreview, &QPushButton::clicked, this, &TForm1::BNrealPreviewClick);
  return page;
}

QWidget* TForm1::BuildPaperGroup() {
  auto* paper = Named(new QWidget, "PNpaper");
  paper->setFixedWidth(300);
  auto* column = new QVBoxLayout(paper);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(3);
  auto* size = new QGridLayout;
  EDwidthmm = Named(new QLineEdit, "EDwidthmm");
  EDheightmm = Named(new QLineEdit, "EDheightmm");
  LBwidthdots = Named(new QLabel(QStringLiteral("0000 dots")), "LBwidthdots");
  LBheightdots = Named(new QLabel(QStringLiteral("0000 dots")), "LBheightdots");
  LBdpiX = Named(new QLabel(QStringLiteral("000 dpi")), "LBdpiX");
  LBdpiY = Named(new QLabel(QStringLiteral("000 dpi")), "LBdpiY");
  LBprnWidthMM = Named(new QLabel, "LBprnWidthMM");
  LBprnHeightMM = Named(new QLabel, "LBprnHeightMM");
  int line = 0;
  for (auto [edit, dots, dpi, printable] :
       {std::tuple{EDwidthmm, LBwidthdots, LBdpiX, LBprnWidthMM},
        std::tuple{EDheightmm, LBheightdots, LBdpiY, LBprnHeightMM}}) {
    edit->setMaxLength(3);
    edit->setFixedWidth(48);
    SetHint(edit, QStringLiteral("#20"));
    SetHint(printable, QStringLiteral("Printable area"));
    auto* mm = new QLabel(QStringLiteral("mm"));
    size->addWidget(edit, line, 0);
    size->addWidget(mm, line, 1);
    size->addWidget(dots, line, 2);
    size->addWidget(dpi, line, 3);
    size->addWidget(printable, line, 4);
    if (line == 1) heightControls_ = {edit, mm, dots, dpi};
    ++line;
  }
  column->addLayout(size);
  BNgetCurrentPaperSettings = Named(new QPushButton(QStringLiteral("Get current printer settings")),
                                    "BNgetCurrentPaperSettings");
  SetHint(BNgetCurrentPaperSettings, QStringLiteral("#20"));
  column->addWidget(BNgetCurrentPaperSettings);
  column->addWidget(new QLabel(QStringLiteral("Choose a registered paper dimension")));
  LIpapers = Named(new QListWidget, "LIpapers");
  LIpapers->setMinimumHeight(110);
  SetHint(LIpapers, QStringLiteral("#20"));
  column->addWidget(LIpapers, 1);
  auto* experimental = new QLabel(QStringLiteral("EXPERIMENTAL"));
  experimental->setStyleSheet(QStringLiteral("font-weight: bold; color: rgb(200, 40, 40);"));
  column->addWidget(experimental);
  auto* note = new QLabel(QStringLiteral(
      "Some printers are designed for dynamic paper sizing.  The individually needed paper size "
      "can be controlled by Vellumora."));
  note->setWordWrap(true);
  column->addWidget(note);
  CBfixedPaperSize =
      Box("CBfixedPaperSize", "Paper width and height as defined on the left", "#20");
  CBdynPaperLength =
      Box("CBdynPaperLength", "Determine the paper length from the graphic aspect ratio", "#20");
  CBnoRestore =
      Box("CBnoRestore", "Do not restore printers paper size settings after print", "#20");
  CBnoRestore->setEnabled(false);
  for (QCheckBox* b : {CBfixedPaperSize, CBdynPaperLength, CBnoRestore})
    column->addWidget(WrappedBox(b));
  LBpapercontrol =
      Named(new QLabel(QStringLiteral("Paper contol in at least one channel")), "LBpapercontrol");
  SetColour(LBpapercontrol, QPalette::WindowText, kResultBad);
  LBpapercontrol->hide();
  column->addWidget(LBpapercontrol);

  auto* borders = Group("GBborders", " White borders [mm]");
  auto* grid = new QGridLayout(borders);
  SEborderL = BorderEdit("SEborderL");
  SEborderT = BorderEdit("SEborderT");
  SEborderR = BorderEdit("SEborderR");
  SEborderB = BorderEdit("SEborderB");
  grid->addWidget(new QLabel(QStringLiteral("Left")), 0, 0);
  grid->addWidget(SEborderL, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Top")), 0, 2);
  grid->addWidget(SEborderT, 0, 3);
  grid->addWidget(new QLabel(QStringLiteral("Right")), 1, 0);
  grid->addWidget(SEborderR, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Bottom")), 1, 2);
  grid->addWidget(SEborderB, 1, 3);
  column->addWidget(borders);

  for (QSpinBox* b : {SEborderL, SEborderT, SEborderR, SEborderB})
    connect(b, &QSpinBox::valueChanged, this, [this] { RestartLayoutTimer(); });
  for (QLineEdit* edit : {EDwidthmm, EDheightmm})
    OnKeyUp(edit, [this](const QKeyEvent& key) {
      // Only the digits of the main keyboard: the number pad's are not a typed size.
      if (key.key() >= Qt::Key_0 && key.key() <= Qt::Key_9 &&
          !(key.modifiers() & Qt::KeypadModifier)) {
        paperDimsEdited = true;
        RestartLayoutTimer();
      }
    });
  connect(BNgetCurrentPaperSettings, &QPushButton::clicked, this,
          &TForm1::BNgetCurrentPaperSettingsClick);
  // A row chosen by the user; rows selected by code change nothing.
  connect(LIpapers, &QListWidget::itemClicked, this,
          [this](QListWidgetItem* item) { LIpapersClick(LIpapers->row(item)); });
  // The two paper control boxes answer the user's click only (its mouse release), never a
  // change made by code.
  connect(CBfixedPaperSize, &QCheckBox::clicked, this, &TForm1::CBfixedPaperSizeMouseUp);
  connect(CBdynPaperLength, &QCheckBox::clicked, this, &TForm1::CBdynPaperLengthMouseUp);
  return paper;
}

QWidget* TForm1::BuildScalingGroup() {
  auto* group = Group("GBscaling", " Graphic scaling and orientation ");
  auto* column = new QVBoxLayout(group);
  column->setSpacing(1);
  CBautoDetect = Box("CBautoDetect", "AutoDetect best fit to page", "#23");
  CBstretch = Box("CBstretch", "Scale graphic to page", "#23");
  CBignoreAratio = Box("CBignoreAratio", "Ignore graphic aspect ratio ", "#23");
  CBcenter = Box("CBcenter", "Center graphic to page", "#23");
  CBlandscape = Box("CBlandscape", "Prepare graphic for landscape orientation ", "#24");
  CBportrait = Box("CBportrait", "Prepare graphic for portrait orientation", "#24");
  CBsetOrientation = Box("CBsetOrientation", "Set printer to selected orientation", "#24");
  for (QCheckBox* b : {CBautoDetect, CBstretch, CBignoreAratio, CBcenter, CBlandscape, CBportrait,
                       CBsetOrientation})
    column->addWidget(b);
  // One of the two orientations is always chosen.
  CBportrait->setChecked(true);
  CBsetOrientation->setChecked(true);

  // A box changed by code runs the same rule as a click on it.
  connect(CBlandscape, &QCheckBox::toggled, this, [this](bool on) {
    CBportrait->setChecked(!on);
    RestartLayoutTimer();
  });
  connect(CBportrait, &QCheckBox::toggled, this, [this](bool on) {
    CBlandscape->setChecked(!on);
    RestartLayoutTimer();
  });
  for (QCheckBox* b : {CBautoDetect, CBsetOrientation})
    connect(b, &QCheckBox::toggled, this, [this] { RestartLayoutTimer(); });
  return group;
}

QWidget* TForm1::BuildNoteGroup() {
  auto* box = Named(new QWidget, "PNnoteWatermark");
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  auto* note = Group("GBnote", " Header or footer text note ");
  SetHint(note, QStringLiteral("#25"));
  auto* grid = new QGridLayout(note);
  auto* caption = new QLabel(QStringLiteral("Text note, optionally including system variable(s)"));
  caption->setWordWrap(true);
  grid->addWidget(caption, 0, 0, 1, 2);
  EDheader = Named(new QLineEdit(QStringLiteral("Vellumora file <N>")), "EDheader");
  EDheader->setMaxLength(63);
  grid->addWidget(EDheader, 1, 0, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("<D> Date   <P> Current page\n<A> Pages total   "
                                            "<N> Dokument name")),
                  2, 0, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Position of text note")), 3, 0, 1, 2);
  const char* names[] = {"RBa", "RBb", "RBc", "RBd", "RBe", "RBf"};
  const char* captions[] = {"top left",    "top centre",    "top right",
                            "bottom left", "bottom centre", "bottom right"};
  // The top positions in the left column, the bottom ones in the right.
  for (int i = 0; i < 6; ++i) {
    RBnote[i] = Named(new QRadioButton(QString::fromLatin1(captions[i])), names[i]);
    grid->addWidget(RBnote[i], 4 + i % 3, i / 3);
  }
  grid->setVerticalSpacing(1);
  RBnote[5]->setChecked(true);
  column->addWidget(note);
  // Stored at once, so that what is typed is never lost to a page change.
  OnKeyUp(EDheader, [this](const QKeyEvent&) { StoreChannelControls(); });

  return box;
}

QWidget* TForm1::BuildFileTypeGroups() {
  auto* row = Named(new QWidget, "PNfileTypes");
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);

  auto* pdf = Group("GBpdf", " PDF-files ");
  SetHint(pdf, QStringLiteral("#27"));
  auto* pdfColumn = new QVBoxLayout(pdf);
  CBpdfUseDocDefaults = Box("CBpdfUseDocDefaults", "Use document defaults", "#27");
  CBfitPdf = Box("CBfitPdf", "Scale page to paper size", "#27");
  CBpdfThroughBitmap = Box("CBpdfThroughBitmap", "Use intermediate bitmap graphic", "#27");
  CBpdfHighRes = Box("CBpdfHighRes", "High resolution (600 dpi)", "#27");
  CBpdfUseDocDefaults->setChecked(true);
  CBfitPdf->setChecked(true);
  for (QCheckBox* b : {CBpdfUseDocDefaults, CBfitPdf, CBpdfThroughBitmap, CBpdfHighRes})
    pdfColumn->addWidget(b);
  layout->addWidget(pdf);

  auto* raw = Group("GBraw", "PRN BIN Raw print files  ");
  SetHint(raw, QStringLiteral("#13"));
  auto* rawGrid = new QGridLayout(raw);
  EDstart = Named(new QLineEdit, "EDstart");
  EDstop = Named(new QLineEdit, "EDstop");
  rawGrid->setVerticalSpacing(1);
  rawGrid->addWidget(new QLabel(QStringLiteral("Start ESC-code (optional)")), 0, 0);
  rawGrid->addWidget(EDstart, 1, 0);
  rawGrid->addWidget(new QLabel(QStringLiteral("Stop ESC-code (optional)")), 2, 0);
  rawGrid->addWidget(EDstop, 3, 0);
  for (QLineEdit* e : {EDstart, EDstop}) {
    e->setMaxLength(kCodeChars);
    SetHint(e, QStringLiteral("#13"));
  }
  rawGrid->addWidget(
      new QLabel(QStringLiteral("There is a maximum of 127 characters for each sequence.")), 4, 0);
  static_cast<QLabel*>(rawGrid->itemAtPosition(4, 0)->widget())->setWordWrap(true);
  layout->addWidget(raw, 1);

  auto* watermark = Group("GBwatermark", " Watermark / Background image ");
  SetHint(watermark, QStringLiteral("#26"));
  auto* wm = new QVBoxLayout(watermark);
  wm->setSpacing(1);
  CBwatermark = Box("CBwatermark", "Enable watermark image", "#26");
  CBstretchWMhor = Box("CBstretchWMhor", "Stretch watermark horizontally", "#26");
  CBstretchWMvert = Box("CBstretchWMvert", "Stretch watermark vertically", "#26");
  for (QCheckBox* b : {CBwatermark, CBstretchWMhor, CBstretchWMvert}) wm->addWidget(b);
  layout->addWidget(watermark);

  auto* text = Group("GBtext", "TXT LOG files  ");
  SetHint(text, QStringLiteral("#28"));
  auto* textColumn = new QVBoxLayout(text);
  BNfont = Named(new QPushButton(QStringLiteral("Change print font style")), "BNfont");
  SetHint(BNfont, QStringLiteral("#28"));
  textColumn->addWidget(BNfont);
  LBpreview = Named(new QLabel(QStringLiteral(
                        "Look at here. This is the text how it looks like after being printed "
                        "through Vellumora.")),
                    "LBpreview");
  LBpreview->setWordWrap(true);
  LBpreview->setMinimumWidth(200);
  textColumn->addWidget(LBpreview);
  layout->addWidget(text, 1);

  // The boxes that change only the preview.
  for (QCheckBox* b : {CBstretch, CBignoreAratio, CBcenter, CBpdfThroughBitmap, CBpdfHighRes,
                       CBfitPdf, CBpdfUseDocDefaults, CBwatermark, CBstretchWMhor, CBstretchWMvert})
    connect(b, &QCheckBox::toggled, this, [this] { DrawLayoutPreview(); });
  connect(BNfont, &QPushButton::clicked, this, &TForm1::BNfontClick);
  return row;
}

// --- loading and storing -------------------------------------------------------------------

void TForm1::ShowPaperNumbers() {
  LBdpiX->setText(QStringLiteral("%1 dpi").arg(dialogDpiX));
  LBdpiY->setText(QStringLiteral("%1 dpi").arg(dialogDpiY));
  LBwidthdots->setText(QStringLiteral("%1 dots").arg(widthDots));
  LBheightdots->setText(QStringLiteral("%1 dots").arg(heightDots));
}

void TForm1::LoadLayoutControls() {
  PrintChannel& c = editChannel;
  const PageGeometry& g = c.geometry;
  // An update or a typed size pending for the channel shown before is dropped with it.
  TimerUpdatePRCH->stop();
  paperDimsEdited = false;
  // Setting the boxes runs their rules, but a channel just loaded is no edit to apply later,
  // and the preview is drawn once everything is in place.
  loadingLayout_ = true;
  FillPaperList(ReadField(c.printerName), false);

  dialogDpiX = g.dpiX;
  dialogDpiY = g.dpiY;
  paperWidthMM = DotsToMm(g.paperRect.right, g.dpiX);
  paperHeightMM = DotsToMm(g.paperRect.bottom, g.dpiY);
  if (paperHeightMM == 0) paperHeightMM = paperWidthMM;
  widthDots = MmToDots(paperWidthMM, g.dpiX);
  heightDots = MmToDots(paperHeightMM, g.dpiY);
  ShowPaperNumbers();

  {
    const QSignalBlocker l(SEborderL), t(SEborderT), r(SEborderR), b(SEborderB);
    SEborderL->setValue(DotsToMm(g.borderRect.left, g.dpiX));
    SEborderT->setValue(DotsToMm(g.borderRect.top, g.dpiY));
    SEborderR->setValue(DotsToMm(WrapSub(g.paperRect.right, g.borderRect.right), g.dpiX));
    SEborderB->setValue(DotsToMm(WrapSub(g.paperRect.bottom, g.borderRect.bottom), g.dpiY));
  }

  EDwidthmm->setText(QString::number(paperWidthMM));
  EDheightmm->setText(QString::number(paperHeightMM));
  LBprnWidthMM->setText(
      QStringLiteral("%1 mm").arg(DotsToMm(WrapSub(g.printRect.right, g.printRect.left), g.dpiX)));
  LBprnHeightMM->setText(
      QStringLiteral("%1 mm").arg(DotsToMm(WrapSub(g.printRect.bottom, g.printRect.top), g.dpiY)));

  CBcenter->setChecked(c.center != 0);
  CBstretch->setChecked(c.stretch != 0);
  CBignoreAratio->setChecked(c.ignoreAratio != 0);
  CBlandscape->setChecked(c.landscape != 0);
  CBportrait->setChecked(c.portrait != 0);  // the landscape box follows as its opposite
  CBsetOrientation->setChecked(c.setOrientation != 0);
  CBautoDetect->setChecked(c.autoDetect != 0);
  CBfixedPaperSize->setChecked(c.fixedPaperSize != 0);
  CBdynPaperLength->setChecked(c.dynPaperLength != 0);
  CBnoRestore->setChecked(c.noRestore != 0);
  EDstart->setText(QString::fromLatin1(ReadField(c.startCode).c_str()));
  EDstop->setText(QString::fromLatin1(ReadField(c.stopCode).c_str()));
  EDheader->setText(FieldText(c.headerText, std::size(c.headerText)));
  CBpdfUseDocDefaults->setChecked(c.pdfUseDocDefaults != 0);
  CBfitPdf->setChecked(c.pdfNoFit == 0);
  CBpdfThroughBitmap->setChecked(c.pdfThroughBitmap != 0);
  CBpdfHighRes->setChecked(c.pdfHighRes != 0);
  CBwatermark->setChecked(c.watermark != 0);
  CBstretchWMhor->setChecked(c.stretchWMhor != 0);
  CBstretchWMvert->setChecked(c.stretchWMvert != 0);

  QFont font(FieldText(c.fontName, std::size(c.fontName)));
  if (font.family().isEmpty()) font.setFamily(QStringLiteral("Arial"));
  font.setPointSize(c.fontSize < 1 ? 10 : std::min(c.fontSize, 1000));
  font.setBold(c.fontStyle & 1);
  font.setItalic(c.fontStyle & 2);
  font.setUnderline(c.fontStyle & 4);
  font.setStrikeOut(c.fontStyle & 8);
  LBpreview->setFont(font);
  SetColour(LBpreview, QPalette::WindowText, WinColor(static_cast<uint32_t>(c.fontColor)));
  LBpreview->setProperty("fontColor", c.fontColor);

  const char* position = std::strchr(kNotePositions, c.notePosition);
  if (c.notePosition != 0 && position) RBnote[position - kNotePositions]->setChecked(true);

  // The paper control warning: another channel of this printer sets its paper.
  {
    C_Kernel& k = context_.kernel;
    std::lock_guard lock(k.registryLock);
    const std::string printer = ReadField(c.printerName);
    int same = 0;
    bool control = false;
    for (int32_t i = 0; i < k.channelCount && static_cast<std::size_t>(i) < k.channels.size();
         ++i) {
      const PrintChannel& other = k.channels[i];
      if (ReadField(other.printerName) != printer) continue;
      ++same;
      control = control || other.fixedPaperSize != 0 || other.dynPaperLength != 0;
    }
    LBpapercontrol->setVisible(same >= 2 && control);
  }
  loadingLayout_ = false;
  UpdateLayoutControls();
  DrawLayoutPreview();
  // Scaling PDF pages to the paper is no choice while they go through a bitmap.
  CBfitPdf->setEnabled(!CBpdfThroughBitmap->isChecked() && !CBpdfUseDocDefaults->isChecked());
}

void TForm1::StoreLayoutControls() {
  PrintChannel& c = editChannel;
  PageGeometry& g = c.geometry;
  // A typed size is tried once the delayed update is due (3 s after the last digit), never
  // on a half-typed number, and never beneath a running scan, which uses the printer object
  // the test renews. Until then it stays marked.
  if (paperDimsEdited && !testingPaperSize_ && !TimerUpdatePRCH->isActive() && !ScanRunning()) {
    paperDimsEdited = false;
    const int32_t tested = editIndex;
    // The channel shown may not change under the test (the dialog is disabled during it).
    if (TestPaperSizeControl() && tested == editIndex) {
      g.paperRect.right = MmToDots(Number(EDwidthmm, 10), g.dpiX);
      g.paperRect.bottom = MmToDots(Number(EDheightmm, 10), g.dpiY);
      g.printRect.right = WrapSub(g.paperRect.right, g.printRect.left);
      g.printRect.bottom = WrapSub(g.paperRect.bottom, g.printRect.top);
    }
  }
  g.borderRect = {MmToDots(SEborderL->value(), g.dpiX), MmToDots(SEborderT->value(), g.dpiY),
                  WrapSub(g.paperRect.right, MmToDots(SEborderR->value(), g.dpiX)),
                  WrapSub(g.paperRect.bottom, MmToDots(SEborderB->value(), g.dpiY))};
  c.widthMM = Number(EDwidthmm, 0);
  c.heightMM = Number(EDheightmm, 0);

  c.center = CBcenter->isChecked();
  c.stretch = CBstretch->isChecked();
  c.ignoreAratio = CBignoreAratio->isChecked();
  c.landscape = CBlandscape->isChecked();
  c.portrait = CBportrait->isChecked();
  c.setOrientation = CBsetOrientation->isChecked();
  c.autoDetect = CBautoDetect->isChecked();
  c.fixedPaperSize = CBfixedPaperSize->isChecked();
  c.dynPaperLength = CBdynPaperLength->isChecked();
  c.noRestore = CBnoRestore->isChecked();
  c.pdfUseDocDefaults = CBpdfUseDocDefaults->isChecked();
  c.pdfNoFit = !CBfitPdf->isChecked();
  c.pdfThroughBitmap = CBpdfThroughBitmap->isChecked();
  c.pdfHighRes = CBpdfHighRes->isChecked();
  c.watermark = CBwatermark->isChecked();
  c.stretchWMhor = CBstretchWMhor->isChecked();
  c.stretchWMvert = CBstretchWMvert->isChecked();
  for (int i = 0; i < 6; ++i)
    if (RBnote[i]->isChecked()) c.notePosition = kNotePositions[i];
  WriteField(c.headerText, EDheader->text().left(63).toStdString());
  WriteField(c.startCode, EDstart->text().left(kCodeChars).toLatin1().toStdString());
  WriteField(c.stopCode, EDstop->text().left(kCodeChars).toLatin1().toStdString());

  const QFont font = LBpreview->font();
  WriteField(c.fontName, font.family().left(kFontNameChars).toStdString());
  c.fontSize = font.pointSize() > 0 ? font.pointSize() : 10;
  c.fontColor = LBpreview->property("fontColor").toInt();
  c.fontStyle = (font.bold() ? 1 : 0) | (font.italic() ? 2 : 0) | (font.underline() ? 4 : 0) |
                (font.strikeOut() ? 8 : 0);
  c.dpiX = dialogDpiX;
  c.dpiY = dialogDpiY;
}

// --- the rules -----------------------------------------------------------------------------

void TForm1::UpdateLayoutControls() {
  PageGeometry& g = editChannel.geometry;
  dialogDpiX = g.dpiX;
  dialogDpiY = g.dpiY;
  paperWidthMM = DotsToMm(g.paperRect.right, g.dpiX);
  paperHeightMM = DotsToMm(g.paperRect.bottom, g.dpiY);
  widthDots = MmToDots(paperWidthMM, g.dpiX);
  heightDots = MmToDots(paperHeightMM, g.dpiY);
  ShowPaperNumbers();
  g.borderRect.right = WrapSub(g.paperRect.right, MmToDots(SEborderR->value(), g.dpiX));
  g.borderRect.bottom = WrapSub(g.paperRect.bottom, MmToDots(SEborderB->value(), g.dpiY));

  const bool controlled = CBfixedPaperSize->isChecked() || CBdynPaperLength->isChecked();
  for (QLineEdit* edit : {EDwidthmm, EDheightmm}) {
    edit->setEnabled(true);
    SetColour(edit, QPalette::Base, controlled ? kEditActive : kEditPassive);
    SetColour(edit, QPalette::Text, controlled ? kEditActiveText : kEditPassiveText);
  }

  if (CBdynPaperLength->isChecked()) {
    for (QWidget* w : heightControls_) w->hide();
    FRpreview->IMvarHeight->show();
    FRpreview->LBmmHeight->hide();
    CBportrait->setChecked(true);
    CBlandscape->setChecked(false);
    CBstretch->setChecked(true);
    CBignoreAratio->setChecked(false);
    CBsetOrientation->setEnabled(false);
  } else {
    for (QWidget* w : heightControls_) w->show();
    FRpreview->LBmmHeight->setVisible(FRpreview->scale != 0);
    FRpreview->IMvarHeight->hide();
    CBsetOrientation->setEnabled(true);
  }
  if (CBfixedPaperSize->isChecked()) {
    CBdynPaperLength->setChecked(false);
    CBsetOrientation->setEnabled(false);
  }

  // The limits change the controls without another round of the delayed update.
  const BorderMm unprintable{DotsToMm(g.printRect.left, g.dpiX), DotsToMm(g.printRect.top, g.dpiY),
                             DotsToMm(WrapSub(g.paperRect.right, g.printRect.right), g.dpiX),
                             DotsToMm(WrapSub(g.paperRect.bottom, g.printRect.bottom), g.dpiY)};
  const BorderMm limited =
      LimitBorders({SEborderL->value(), SEborderT->value(), SEborderR->value(), SEborderB->value()},
                   paperWidthMM, paperHeightMM, unprintable);
  {
    const QSignalBlocker l(SEborderL), t(SEborderT), r(SEborderR), b(SEborderB);
    SEborderL->setValue(limited.left);
    SEborderT->setValue(limited.top);
    SEborderR->setValue(limited.right);
    SEborderB->setValue(limited.bottom);
  }

  CBpdfHighRes->setEnabled(CBpdfThroughBitmap->isChecked());
  CBfitPdf->setEnabled(!CBpdfUseDocDefaults->isChecked());
  const bool autoDetect = CBautoDetect->isChecked();
  for (QCheckBox* b : {CBlandscape, CBportrait, CBstretch}) b->setEnabled(!autoDetect);
}

void TForm1::DrawLayoutPreview() {
  if (FRpreview == nullptr || loadingLayout_) return;
  const bool screen = ReadField(editChannel.printerName) == "SCREEN";
  const QString picture = screen ? QStringLiteral("SCREEN100") : QStringLiteral("PRINTER100");
  if (IMtarget2->property("picture").toString() != picture) {
    IMtarget2->setPixmap(TargetPicture(screen));
    IMtarget2->setProperty("picture", picture);
  }
  if (screen) {
    PNscreen->show();
    PNscreen->raise();
    return;
  }
  PNscreen->hide();
  CBcenter->setEnabled(!CBignoreAratio->isChecked());
  if (!CBcenter->isEnabled()) CBcenter->setChecked(false);

  FRpreview->ShowPaper(editChannel);
  const Rect32& b = editChannel.geometry.borderRect;
  const int32_t w = WrapSub(b.right, b.left), h = WrapSub(b.bottom, b.top);
  const SamplePlacement sample =
      PlaceSample(w, h, widthDots,
                  {CBportrait->isChecked(), CBstretch->isChecked(), CBignoreAratio->isChecked(),
                   CBcenter->isChecked(), CBdynPaperLength->isChecked()});
  FRpreview->DrawSample(sample.rect, sample.landscapeSample ? TFR_Preview::SampleLandscape()
                                                            : TFR_Preview::SamplePortrait());
  FRpreview->setProperty("sampleRect", QRect(QPoint(sample.rect.left, sample.rect.top),
                                             QPoint(sample.rect.right, sample.rect.bottom)));
  FRpreview->setProperty(
      "sample", sample.landscapeSample ? QStringLiteral("PREV_HOR") : QStringLiteral("PREV_VERT"));
  PNtestNewSize->raise();
}

void TForm1::RestartLayoutTimer() {
  if (loadingLayout_ || TimerUpdatePRCH == nullptr) return;
  TimerUpdatePRCH->stop();
  TimerUpdatePRCH->setInterval(paperDimsEdited ? kTypedSizeDelayMs : kShortDelayMs);
  TimerUpdatePRCH->start();
}

void TForm1::FlushLayoutUpdate() {
  if (TimerUpdatePRCH == nullptr || !TimerUpdatePRCH->isActive()) return;
  TimerUpdatePRCH->stop();
  UpdateLayoutControls();
}

void TForm1::TimerUpdatePRCHTimer() {
  TimerUpdatePRCH->stop();
  TimerCheckChanges->stop();
  UpdateLayoutControls();
  StoreChannelControls();
  DrawLayoutPreview();
  TimerCheckChanges->start();
}

// --- the printer's paper -------------------------------------------------------------------

void TForm1::ReadPrinterGeometry() {
  const std::string printer = ReadField(editChannel.printerName);
  PageGeometry read = editChannel.geometry;
  if (!context_.outputs.ReadPrinterMetrics(printer, read)) return;  // logged there
  PageGeometry& g = editChannel.geometry;
  if (read.dpiX > 0 && read.dpiY > 0) {
    g.dpiX = read.dpiX;
    g.dpiY = read.dpiY;
  }
  g.paperRect.right = read.paperRect.right;
  g.paperRect.bottom = read.paperRect.bottom;
  g.printRect = read.printRect;
  dialogDpiX = g.dpiX;
  dialogDpiY = g.dpiY;
  widthDots = read.paperRect.right;
  heightDots = read.paperRect.bottom;
  ShowPaperNumbers();
  EDwidthmm->setText(QString::number(DotsToMm(read.paperRect.right, g.dpiX)));
  EDheightmm->setText(QString::number(DotsToMm(read.paperRect.bottom, g.dpiY)));
  LBprnWidthMM->setText(QStringLiteral("%1 mm ").arg(
      DotsToMm(WrapSub(read.printRect.right, read.printRect.left), g.dpiX)));
  LBprnHeightMM->setText(QStringLiteral("%1 mm ").arg(
      DotsToMm(WrapSub(read.printRect.bottom, read.printRect.top), g.dpiY)));
  FillPaperList(printer, true);
}

int32_t TForm1::FillPaperList(const std::string& printer, bool takeCurrent) {
  LIpapers->clear();
  paperIds.fill(0);
  paperMedia.fill(std::string());
  int32_t wanted = editChannel.paperSize;
  if (printer.empty() || printer.rfind("SCREEN", 0) == 0) return 0;
  if (!printers::ReadDefaultsBlock(printer)) return 0;  // the printer does not answer
  const std::string currentMedia = printers::DefaultMediaName(printer);
  const int32_t current = printers::PaperCodeForMedia(currentMedia);
  if (takeCurrent) {
    wanted = current;
    editChannel.paperSize = current;
  }
  const std::vector<printers::Paper> papers = printers::PaperList(printer);
  const int32_t count = static_cast<int32_t>(std::min<std::size_t>(papers.size(), kMaxPapers));
  for (int32_t i = 0; i < count; ++i) {
    const printers::Paper& p = papers[i];
    LIpapers->addItem(QStringLiteral("%1 (%2 x %3) mm²")
                          .arg(QString::fromStdString(p.name))
                          .arg((p.widthTenthMm + 5) / 10)
                          .arg((p.heightTenthMm + 5) / 10));
    paperIds[i] = p.code;
    paperMedia[i] = p.media;
    // Papers without a code of their own (all 256) are told apart by their media name.
    if (p.code == wanted && (p.code != kUserDefinedPaper || p.media == currentMedia))
      LIpapers->setCurrentRow(i);
  }
  return count;
}

void TForm1::LIpapersClick(int row) {
  if (row < 0 || row >= LIpapers->count() || row >= kMaxPapers) return;
  if (ScanningBlocksEdits()) return;  // the scan prints through the printer object renewed here
  const std::string printer = ReadField(editChannel.printerName);
  const int32_t code = paperIds[row];
  editChannel.paperSize = code;
  if (code != kUserDefinedPaper) {
    context_.outputs.SetPrinterDefaultPaper(printer, code, 0, 0);
  } else if (!paperMedia[row].empty()) {
    // A paper of the printer's own list that has no code: its own name, not a made-up size.
    context_.outputs.SetPrinterDefaultMedia(printer, paperMedia[row]);
  } else {
    context_.outputs.SetPrinterDefaultPaper(printer, code, 200, 200);
  }
  ReadPrinterGeometry();
  RestartLayoutTimer();
}

bool TForm1::TestPaperSizeControl() {
  testingPaperSize_ = true;
  // The test waits with the window responsive; nothing else of the dialog may run meanwhile
  // (another channel shown would take this channel's result).
  setEnabled(false);
  PNtestNewSize->show();
  PNtestNewSize->raise();
  LBsenddims->hide();
  LBreceivedims->hide();
  LBresult->clear();
  SetLamp(SHdriverAccess, kLampRed);
  QCoreApplication::processEvents();
  bool success = false;
  if (CheckPrinterAccess() & 1) {
    SetLamp(SHdriverAccess, kLampGreen);
    const int32_t oldWidth = editChannel.geometry.paperRect.right;
    const int32_t oldHeight = editChannel.geometry.paperRect.bottom;
    LBsenddims->show();
    const int32_t w = Number(EDwidthmm, 10), h = Number(EDheightmm, 10);
    if (context_.outputs.SetPrinterDefaultPaper(ReadField(editChannel.printerName),
                                                kUserDefinedPaper, w, h)) {
      LBreceivedims->show();
      ReadPrinterGeometry();
      if (editChannel.geometry.paperRect.right != oldWidth ||
          editChannel.geometry.paperRect.bottom != oldHeight) {
        LBresult->setText(QStringLiteral("Paper size control by Vellumora established"));
        SetColour(LBresult, QPalette::WindowText, kResultGood);
        success = true;
        WaitPumping(paperTestSuccessMs);
      }
    }
  }
  if (!success) {
    LBresult->setText(
        QStringLiteral("Paper size cannot be controlled by Vellumora. Option disabled"));
    SetColour(LBresult, QPalette::WindowText, kResultBad);
    CBfixedPaperSize->setChecked(false);
    CBdynPaperLength->setChecked(false);
    WaitPumping(paperTestFailureMs);
  }
  PNtestNewSize->hide();
  setEnabled(true);
  testingPaperSize_ = false;
  return success;
}

// --- the other events ----------------------------------------------------------------------

void TForm1::BNgetCurrentPaperSettingsClick() {
  ReadPrinterGeometry();
  RestartLayoutTimer();
}

// The two paper control options exclude each other; switching one off takes the printer's
// own paper again.
void TForm1::PaperControlMouseUp(QCheckBox* clicked, QCheckBox* other) {
  if (clicked->isChecked())
    other->setChecked(false);
  else
    ReadPrinterGeometry();
  RestartLayoutTimer();
}

void TForm1::CBfixedPaperSizeMouseUp() {
  PaperControlMouseUp(CBfixedPaperSize, CBdynPaperLength);
}

void TForm1::CBdynPaperLengthMouseUp() {
  PaperControlMouseUp(CBdynPaperLength, CBfixedPaperSize);
}

void TForm1::BNfontClick() {
  if (!chooseFont) return;
  if (const std::optional<QFont> font = chooseFont(LBpreview->font())) LBpreview->setFont(*font);
}

void TForm1::BNrealPreviewClick() {
  const QString sample = shareDirectory_ + QStringLiteral("/TestFile.jpg");
  // Scanning reloads the watermark the preview draws with.
  if (ScanningBlocksEdits()) return;
  const QString file = choosePreviewFile ? choosePreviewFile(sample) : sample;
  if (file.isEmpty() || ScanningBlocksEdits()) return;
  // The settings as shown now, saved or not.
  StoreChannelControls();
  const PrintChannel shown = editChannel;
  const int32_t longer = std::max(shown.geometry.paperRect.right, shown.geometry.paperRect.bottom);
  const double scale = longer > 0 ? static_cast<double>(kProofMaxPixels) / longer : 0;
  const PageProof proof = ProofPicturePage(context_.outputs, shown, file.toStdString(), scale);

  auto* window = new QDialog(this);
  window->setObjectName(QStringLiteral("FormRealPreview"));
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(QStringLiteral("Preview of print channel %1: %2")
                             .arg(editIndex + 1)
                             .arg(QFileInfo(file).fileName()));
  auto* column = new QVBoxLayout(window);
  auto* picture = Named(new QLabel, "IMrealPreview");
  if (proof.ok) {
    const QImage page = ToQImage(proof.page);
    picture->setPixmap(QPixmap::fromImage(page));
    picture->setFrameShape(QFrame::Box);
    auto* scroll = new QScrollArea;
    scroll->setWidget(picture);
    scroll->setAlignment(Qt::AlignCenter);
    scroll->setMinimumSize(std::min(page.width() + 24, 1000), std::min(page.height() + 24, 760));
    column->addWidget(scroll, 1);
    column->addWidget(new QLabel(
        QStringLiteral("As the channel's printer would get it, with the settings shown (saved "
                       "or not): %1 x %2 mm, %3.")
            .arg(DotsToMm(proof.pageWidthDots, shown.geometry.dpiX))
            .arg(DotsToMm(proof.pageHeightDots, shown.geometry.dpiY))
            .arg(proof.landscape ? QStringLiteral("landscape") : QStringLiteral("portrait"))));
  } else {
    picture->setText(QStringLiteral("No preview: %1").arg(QString::fromStdString(proof.error)));
    picture->setWordWrap(true);
    column->addWidget(picture, 1);
  }
  auto* close = Named(new QPushButton(QStringLiteral("Close")), "BNcloseRealPreview");
  connect(close, &QPushButton::clicked, window, &QDialog::close);
  column->addWidget(close, 0, Qt::AlignRight);
  if (realPreview) realPreview->close();
  realPreview = window;
  window->show();
}

}  // namespace vellumora::ui
