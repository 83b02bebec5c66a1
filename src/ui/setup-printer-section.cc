// The printer section of the setup dialog's channel page: the output's picture, the printer
// access lamps, the special driver settings with trying and restoring them, the test printouts
// through a channel, and the page's error panel.
#include <QAbstractItemView>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cstring>
#include <mutex>

#include "host/service.h"
#include "kernel/text-fields.h"
#include "output/outputs.h"
#include "platform/files.h"
#include "platform/printers.h"
#include "ui/control-hints.h"
#include "ui/driver-settings-dialog.h"
#include "ui/help-panel.h"
#include "ui/setup-dialog.h"
#include "ui/setup-parts.h"

namespace vellumora::ui {

namespace {

const QColor kDriverPanelSpecial(164, 185, 200);
const QColor kDriverPanelDefault(182, 182, 182);

// The samples are files of the installation; anything larger is not one of ours.
constexpr std::size_t kMaxSampleBytes = 64u << 20;

// Takes `widget` out of whatever layout of its parent holds it, so that it can be placed anew
// without the layout's complaint.
bool RemoveFromLayout(QLayout* layout, QWidget* widget) {
  if (layout == nullptr) return false;
  for (int i = 0; i < layout->count(); ++i) {
    QLayoutItem* item = layout->itemAt(i);
    if (item->widget() == widget) {
      delete layout->takeAt(i);
      return true;
    }
    if (RemoveFromLayout(item->layout(), widget)) return true;
  }
  return false;
}

void TakeOutOfLayout(QWidget* widget) {
  if (QWidget* parent = widget->parentWidget()) RemoveFromLayout(parent->layout(), widget);
}

QPushButton* DriverButton(const char* name, const QString& caption) {
  auto* button = Named(new QPushButton(caption), name);
  button->setMinimumHeight(54);
  return button;
}

const char* SetupErrorText(int32_t code) {
  switch (code) {
    case 100:
      return "Printer driver couldn't be accessed";
    case 101:
      return "Printer driver couldn't be accessed for setup";
    case 102:
      return "Printer driver settings couldn't be modified";
    case 103:
      return "Printer driver size mismatch";
    case 104:
      return "Printer driver settings couldn't be achieved";
    case 105:
      return "Application VCL couldn't access the printer";
    case 201:
      return "File input folder is no longer available";
    default:
      return "Unknown error";
  }
}

}  // namespace

QWidget* TForm1::BuildPrinterSection() {
  auto* section = Named(new QWidget, "PNoutput");
  auto* row = new QHBoxLayout(section);
  row->setContentsMargins(0, 0, 0, 0);
  IMtarget1 = Named(new QLabel, "IMtarget1");
  IMtarget1->setFixedSize(64, 64);
  IMtarget1->setScaledContents(true);
  IMtarget1->setPixmap(TargetPicture(false));
  IMtarget1->setProperty("picture", QStringLiteral("PRINTER100"));
  row->addWidget(IMtarget1, 0, Qt::AlignTop);

  PNprinter = Named(new QFrame, "PNprinter");
  row->addWidget(PNprinter, 1);
  auto* grid = new QGridLayout(PNprinter);
  grid->setContentsMargins(0, 0, 0, 0);

  // Copies and the spooler limit, made by the channel page with the other channel fields.
  for (QSpinBox* box : {SEcopies, SEmaxJobsInSpooler}) TakeOutOfLayout(box);
  auto* copiesCaption = new QLabel(QStringLiteral("Copies to print"));
  auto* spoolerCaption =
      new QLabel(QStringLiteral("Max. number of waiting jobs in the Windows print spooler"));
  spoolerCaption->setWordWrap(true);
  grid->addWidget(copiesCaption, 0, 0);
  grid->addWidget(SEcopies, 0, 1);
  grid->addWidget(spoolerCaption, 1, 0);
  grid->addWidget(SEmaxJobsInSpooler, 1, 1);

  PNspecialDriver = Named(new QFrame, "PNspecialDriver");
  PNspecialDriver->setFrameShape(QFrame::StyledPanel);
  PNspecialDriver->setAutoFillBackground(true);
  // Two by two: the step's column is narrow beside the schedule.
  auto* driverRow = new QGridLayout(PNspecialDriver);
  BNdriverSetup = DriverButton("BNdriverSetup", QStringLiteral("Special driver settings ..."));
  BNclearSpecialDriver = DriverButton("BNclearSpecialDriver", QStringLiteral("X"));
  SetHint(BNclearSpecialDriver, QStringLiteral("Clear special driver settings"));
  BNsetToNewDefault = DriverButton(
      "BNsetToNewDefault", QStringLiteral("Test printer driver\nchange to the new\nsettings now"));
  BNrestore = DriverButton("BNrestore", QStringLiteral("Restore\noriginal\nsettings"));
  BNrestore->setEnabled(false);
  BNdriverSetup->setEnabled(false);
  driverRow->addWidget(BNdriverSetup, 0, 0);
  driverRow->addWidget(BNclearSpecialDriver, 0, 1);
  driverRow->addWidget(BNsetToNewDefault, 1, 0);
  driverRow->addWidget(BNrestore, 1, 1);
  grid->addWidget(PNspecialDriver, 2, 0, 1, 2);

  auto* lamps = Named(new QGroupBox(QStringLiteral(" Your printers access privileges...")),
                      "GBprinterAccess");
  auto* lampGrid = new QGridLayout(lamps);
  LBconnect = Named(new QLabel(QStringLiteral(" Checking printer driver access....")),
                    "LBconnect");
  lampGrid->addWidget(LBconnect, 0, 0, 1, 2);
  const auto addLamp = [&](const char* name, const char* caption, int line) {
    auto* lamp = Named(NewLamp([this] { SHchkWinApiMouseUp(); }), name);
    lampGrid->addWidget(lamp, line, 0);
    lampGrid->addWidget(new QLabel(QString::fromLatin1(caption)), line, 1);
    return lamp;
  };
  SHchkVCL = addLamp("SHchkVCL", "Application VCL access", 1);
  SHchkWinApi = addLamp("SHchkWinApi", "Win API normal access", 2);
  SHchkWinApiS = addLamp("SHchkWinApiS", "Win API special access", 3);
  lampGrid->setColumnStretch(1, 1);
  grid->addWidget(lamps, 3, 0, 1, 2);

  connect(CBprinters, &QComboBox::activated, this, [this] { CBprintersSelect(); });
  // An editable list reports every change of its text, a picked entry included.
  if (CBprinters->isEditable())
    connect(CBprinters, &QComboBox::editTextChanged, this, [this] { CBprintersChange(); });
  else
    connect(CBprinters, &QComboBox::currentTextChanged, this, [this] { CBprintersChange(); });
  for (QPushButton* b : {BNtestBMP, BNtestPDF, BNtestPRN})
    connect(b, &QPushButton::clicked, this, [this, b] { BNtestBMPClick(b); });
  connect(BNdriverSetup, &QPushButton::clicked, this, [this] { BNdriverSetupClick(); });
  connect(BNclearSpecialDriver, &QPushButton::clicked, this,
          [this] { BNclearSpecialDriverClick(); });
  connect(BNsetToNewDefault, &QPushButton::clicked, this, [this] { BNsetToNewDefaultClick(); });
  connect(BNrestore, &QPushButton::clicked, this, [this] { BNrestoreClick(); });
  RefreshSpecialDriverPanel();
  return section;
}

QWidget* TForm1::BuildErrorPanel() {
  PNElog = Named(new QFrame, "PNElog");
  PNElog->setFrameShape(QFrame::Box);
  PNElog->setAutoFillBackground(true);
  auto* layout = new QVBoxLayout(PNElog);
  auto* heading =
      new QLabel(QStringLiteral("The following errors occurred during the setup process:..."));
  heading->setWordWrap(true);
  layout->addWidget(heading);
  // Not a QPlainTextEdit: the help panels are the dialog's children of that type.
  Memo = Named(new QTextEdit, "Memo");
  Memo->setAcceptRichText(false);
  Memo->setReadOnly(true);
  layout->addWidget(Memo, 1);
  BNclose = Named(new QPushButton(QStringLiteral("&Close window")), "BNclose");
  connect(BNclose, &QPushButton::clicked, this, [this] { BNcloseClick(); });
  layout->addWidget(BNclose);
  PNElog->hide();
  return PNElog;
}

void TForm1::ReportSetupError(int32_t code) {
  if (PNElog == nullptr) return;
  if (PNElog->isHidden()) {
    // Exactly over the help panel, wherever the page's layout has put that.
    QWidget* host = PNElog->parentWidget();
    if (HelpPrinters && host && host->isAncestorOf(HelpPrinters))
      PNElog->setGeometry(
          QRect(HelpPrinters->mapTo(host, QPoint(0, 0)), HelpPrinters->size()));
    PNElog->show();
    PNElog->raise();
  }
  Memo->append(QString::number(code) + QLatin1Char(' ') +
                        QString::fromLatin1(SetupErrorText(code)));
}

void TForm1::BNcloseClick() {
  if (PNElog) PNElog->hide();
}

// --- the output device ---------------------------------------------------------------------

void TForm1::CBprintersSelect() {
  const QString text = CBprinters->currentText();
  // The "Printer" column of the row of the channel shown follows the choice.
  const int row = RowOfChannel(editIndex);
  if (row >= 0 && PCMatrix2->item(row, 2)) PCMatrix2->item(row, 2)->setText(text);
  const bool screen = text.startsWith(QLatin1String("SCREEN"));
  IMtarget1->setPixmap(TargetPicture(screen));
  IMtarget1->setProperty("picture", screen ? QStringLiteral("SCREEN100")
                                           : QStringLiteral("PRINTER100"));
  PNprinter->setVisible(!screen);
}

void TForm1::CBprintersChange() {
  CheckPrinterAccess();
}

void TForm1::SHchkWinApiMouseUp() {
  CheckPrinterAccess();
}

int32_t TForm1::CheckPrinterAccess() {
  C_Kernel& k = context_.kernel;
  const QString text = CBprinters->currentText();
  if (text.startsWith(QLatin1String("SCREEN"))) {
    SEcopies->setValue(1);
    PNprinter->hide();
    IMtarget1->setPixmap(TargetPicture(true));
    IMtarget1->setProperty("picture", QStringLiteral("SCREEN100"));
    return 1;
  }
  PNprinter->show();
  IMtarget1->setPixmap(TargetPicture(false));
  IMtarget1->setProperty("picture", QStringLiteral("PRINTER100"));
  LBconnect->setText(QStringLiteral(" Checking printer driver access...."));
  for (QFrame* lamp : {SHchkVCL, SHchkWinApi, SHchkWinApiS}) SetLamp(lamp, kLampGrey);

  bool ok = true;
  int32_t access = 0;
  if (!text.isEmpty()) {
    OutputPort* port = k.output ? k.output : &context_.outputs;
    access = port->TestPrinterAccess(text.toStdString());
    if ((access & 1) == 0) {
      SetLamp(SHchkWinApi, kLampRed);
      k.Log("ERROR: Printer is not accessible or can't be found");
      ReportSetupError(100);
      ok = false;
    } else {
      SetLamp(SHchkWinApi, kLampGreen);
      if ((access & 2) == 0) {
        SetLamp(SHchkVCL, kLampRed);
        k.Log("ERROR: Bitmap graphics printing is not possible");
        ReportSetupError(105);
        ok = false;
      } else {
        SetLamp(SHchkVCL, kLampGreen);
        if (access & 32) {
          SetLamp(SHchkWinApiS, kLampGreen);
          BNdriverSetup->setEnabled(true);
        } else {
          SetLamp(SHchkWinApiS, kLampRed);
          BNdriverSetup->setEnabled(false);
          k.Log("ERROR: Full printer driver settings access couldn't be established");
          ok = false;
          ReportSetupError((access & 4) && (access & 16) ? 102 : (access & 4) ? 104 : 101);
        }
      }
    }
  }
  printerAccessSufficient = ok;
  if (ok) {
    LBconnect->setText(QStringLiteral(" Printer driver access established!"));
  } else {
    LBconnect->setText(QStringLiteral(" Printer driver access not sufficient !"));
    BNsetToNewDefault->setEnabled(false);
  }
  return access;
}

// --- special driver settings ---------------------------------------------------------------

void TForm1::RefreshSpecialDriverPanel() {
  bool special = false;
  {
    C_Kernel& k = context_.kernel;
    std::lock_guard lock(k.registryLock);
    if (editIndex >= 0 && static_cast<std::size_t>(editIndex) < k.channels.size())
      special = k.channels[static_cast<std::size_t>(editIndex)].driverSize > 0;
  }
  QPalette panel = PNspecialDriver->palette();
  panel.setColor(QPalette::Window, special ? kDriverPanelSpecial : kDriverPanelDefault);
  PNspecialDriver->setPalette(panel);
  QPalette button = BNdriverSetup->palette();
  button.setColor(QPalette::ButtonText, special ? QColor(0, 0, 255) : QColor(0, 0, 0));
  BNdriverSetup->setPalette(button);
  // Trying the settings needs the printer access that the last check found wanting.
  BNsetToNewDefault->setEnabled(special && printerAccessSufficient);
  BNclearSpecialDriver->setEnabled(special);
  if (!special) BNrestore->setEnabled(false);
}

void TForm1::BNdriverSetupClick() {
  // Our dialog reads the queue by its name: unlike a system print dialog it needs no change of
  // the default printer, and the printer's own defaults are never touched here.
  const std::string printer = CBprinters->currentText().toStdString();
  if (printer.empty() || !printers::Answers(printer)) {
    ReportSetupError(101);
    return;
  }
  std::optional<std::vector<uint8_t>> current = printers::ReadDefaultsBlock(printer);
  if (!current) {
    ReportSetupError(104);
    return;
  }
  std::vector<uint8_t> start = *current;
  if (editChannel.driverSize > 0) {
    // The channel's stored settings are the starting point when they were made for this
    // driver (the same set of settings gives the same length).
    if (static_cast<std::size_t>(editChannel.driverSize) == current->size() &&
        current->size() <= kDriverDataSize)
      start.assign(editChannel.driverData, editChannel.driverData + current->size());
    else
      ReportSetupError(103);
  }
  const std::vector<printers::DriverSetting> settings = printers::DriverSettings(printer);
  DriverSettingsDialog dialog(CBprinters->currentText(), settings, start, this);
  const int result = driverDialogHook ? driverDialogHook(dialog) : dialog.exec();
  if (result != QDialog::Accepted) return;
  const std::vector<uint8_t> chosen = dialog.Block();
  if (chosen.empty() || chosen.size() > kDriverDataSize) {
    ReportSetupError(102);
    return;
  }
  // Only the block's bytes change: the rest of the record's area stays as it was, so that
  // taking the same settings again is no edit.
  editChannel.driverSize = static_cast<int32_t>(chosen.size());
  std::memcpy(editChannel.driverData, chosen.data(), chosen.size());
}

void TForm1::BNclearSpecialDriverClick() {
  C_Kernel& k = context_.kernel;
  if (editIndex < 0) return;
  StoreChannelControls();
  // Saving first reloads settings files whose time stamps changed, our own last save among
  // them: reloaded now, that cannot undo the change made next.
  k.ReadSettings(true);
  {
    std::lock_guard lock(k.registryLock);
    if (editIndex >= k.channelCount || static_cast<std::size_t>(editIndex) >= k.channels.size())
      return;
    k.channels[static_cast<std::size_t>(editIndex)].driverSize = 0;
  }
  SaveSettings(false);
  LoadChannelControls(true);
  RefreshSpecialDriverPanel();
}

void TForm1::BNsetToNewDefaultClick() {
  C_Kernel& k = context_.kernel;
  if (editIndex < 0 || editIndex >= k.channelCount) return;
  BNrestore->setEnabled(false);
  // What an earlier try, not yet restored, saved are the printer's own defaults; this try
  // finds the printer changed by that one and would save the changed settings in their place.
  const PrintChannel earlier = k.printerDefaults;
  const bool keepEarlier =
      earlier.driverSize > 0 && ReadField(earlier.printerName) ==
                                    ReadField(k.channels[static_cast<std::size_t>(editIndex)].printerName);
  const bool applied = context_.outputs.PrepareChannelPrinter(editIndex);
  // Nothing changed (the printer held these settings already) is no failure; a refused change
  // is one (its reason is in the log), and leaves nothing of its own to restore.
  const bool refused = applied && !k.driverChanged && k.printerDefaults.driverSize > 0;
  if (refused) k.printerDefaults.driverSize = 0;
  if (keepEarlier) k.printerDefaults = earlier;
  if (!applied || refused) ReportSetupError(105);
  BNrestore->setEnabled(k.printerDefaults.driverSize > 0);
}

void TForm1::BNrestoreClick() {
  if (context_.outputs.RestorePrinterDefaults()) BNrestore->setEnabled(false);
}

// --- test printouts ------------------------------------------------------------------------

void TForm1::RefreshTestButtons(bool unsavedChange) {
  const bool usable = editIndex >= 0 && !unsavedChange && !context_.service.running;
  for (QPushButton* b : {BNtestBMP, BNtestPDF, BNtestPRN}) b->setEnabled(usable);
}

void TForm1::BNtestBMPClick(QPushButton* which) {
  C_Kernel& k = context_.kernel;
  // A scan pass of the engine thread, or one of ours, is running: never a second beside it.
  if (editIndex < 0 || kernelIdle.load() == 0 || scanningActive.load() != 0) return;
  k.Log("============= TEST PRINTOUT ===============");
  // Read first, so that the debug setting put back at the end is the one now in the file.
  k.ReadSettings(true);
  const bool debugMode = k.settings.DebugMode;
  k.settings.DebugMode = true;
  context_.outputs.LoadWatermark();
  context_.outputs.InitPdfModules();

  const char* name = which == BNtestPDF   ? "TestFile.pdf"
                     : which == BNtestPRN ? "TestFile.prn"
                                          : "TestFile.jpg";
  // The sample goes where the scan pass looks: the saved channel's folder.
  std::string folder;
  {
    std::lock_guard lock(k.registryLock);
    if (editIndex < k.channelCount && static_cast<std::size_t>(editIndex) < k.channels.size())
      folder = ReadField(k.channels[static_cast<std::size_t>(editIndex)].sourceFolder);
  }
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  std::string bytes, error;
  // With raw printing switched off the scan would leave the raw sample lying in the folder,
  // unprinted, where it makes the folder "not empty" and waits for someone to remove it.
  const bool rawRefused = which == BNtestPRN && k.settings.NoRawFilePrinting;
  if (rawRefused) {
    k.Log("ERROR Test printout: raw file printing is switched off in the general setup");
    folder.clear();
  }
  const bool sample = ReadRegularFile(shareDirectory_.toStdString() + name, &bytes, &error,
                                      kMaxSampleBytes) == ReadStatus::kRead;
  // Written beside and renamed over any file of that name: a link planted in the folder is
  // replaced, never followed.
  const bool copied = sample && !folder.empty() &&
                      ReplaceFile(folder + "/" + name, bytes, &error, /*durable=*/false);
  if (!copied && !error.empty()) k.Log("ERROR Test printout: " + error);

  if (copied && kernelIdle.load() != 0) {
    stopRequested = 0;
    scanningActive = 1;
    RefreshMainWindow();
    ShowServiceState();
    // The pass runs on this, the window thread: a preview waiting for the operator's Print
    // would wait for this very thread. A test printout is the operator's own request.
    PreviewPort* preview = context_.outputs.preview;
    context_.outputs.preview = nullptr;
    k.ScanChannel(editIndex, true);
    context_.outputs.preview = preview;
    scanningActive = 0;
    RefreshMainWindow();
    ShowServiceState();
  }
  k.Log("============================================");
  k.settings.DebugMode = debugMode;
}

}  // namespace vellumora::ui
