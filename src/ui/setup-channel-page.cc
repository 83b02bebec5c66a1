// The setup dialog's channel page: the channel grid, the channel's folder, schedule, output
// and disposal, and the editing cycle that the page layout page shares.
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "host/service-folders.h"
#include "host/service.h"
#include "kernel/default-channels.h"
#include "kernel/text-fields.h"
#include "platform/account-access.h"
#include "platform/printers.h"
#include "ui/control-hints.h"
#include "ui/general-page.h"
#include "ui/help-panel.h"
#include "ui/info-window.h"
#include "ui/main-window.h"
#include "ui/qt-bitmap.h"
#include "ui/schedule-frame.h"
#include "ui/setup-dialog.h"
#include "ui/setup-parts.h"

namespace vellumora::ui {

namespace {

namespace fs = std::filesystem;

// The grid's columns.
constexpr int kColId = 0;
constexpr int kColFolder = 1;
constexpr int kColPrinter = 2;
constexpr int kColDriver = 3;
constexpr int kColActive = 4;
constexpr int kColDelete = 5;

constexpr uint32_t kRowSelected = 0xFF9E3E;    // RGB 62, 158, 255
constexpr uint32_t kRowOther = 0xC5C5C5;       // RGB 197, 197, 197
constexpr uint32_t kDriverSpecial = 0xC8B9A4;  // RGB 164, 185, 200
constexpr uint32_t kActiveOn = 0x88BA81;       // RGB 129, 186, 136
constexpr uint32_t kActiveOff = 0x9B9BE3;      // RGB 227, 155, 155

constexpr int kChangeCheckMs = 700;
constexpr int kTextFieldChars = 255;
constexpr int kPrinterNameChars = 127;

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_directory(path, ec);
}

// Makes a missing input or archive folder with its parents, as the default channels' folders
// are made (group-writable, never through a symbolic link), and gives it to the service's
// account (none: nothing to give); reports what failed.
void MakeFolder(C_Kernel& kernel, const std::string& path, const std::string& serviceAccount) {
  if (path.empty() || IsDirectory(path)) return;
  std::string error;
  if (!MakeChannelFolder(path, &error)) {
    kernel.Log("ERROR Folder " + path + " cannot be created (" + error + ")");
    return;
  }
  GrantChannelFolder(kernel, path, serviceAccount);
}

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled);
  return item;
}

// A step of the page: a frame headed by its (long, wrapped) title.
QGroupBox* StepBox(const char* name, const char* title, QVBoxLayout** layout) {
  auto* box = Named(new QGroupBox, name);
  *layout = new QVBoxLayout(box);
  auto* head = new QLabel(QString::fromLatin1(title));
  head->setWordWrap(true);
  head->setStyleSheet(QStringLiteral("font-weight: bold;"));
  (*layout)->addWidget(head);
  return box;
}

}  // namespace

// --- building the page --------------------------------------------------------------------

QWidget* TForm1::BuildChannelPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet2"));
  auto* row = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  row->addLayout(left, 1);

  PCMatrix2 = Named(new QTableWidget(0, 6), "PCMatrix2");
  PCMatrix2->setHorizontalHeaderLabels({QStringLiteral("Id"), QStringLiteral("File input folder"),
                                        QStringLiteral("Printer"), QStringLiteral("Driver"),
                                        QStringLiteral("Active"), QStringLiteral("Action")});
  PCMatrix2->setSelectionMode(QAbstractItemView::NoSelection);
  PCMatrix2->setEditTriggers(QAbstractItemView::NoEditTriggers);
  PCMatrix2->verticalHeader()->hide();
  PCMatrix2->horizontalHeader()->setSectionResizeMode(kColFolder, QHeaderView::Stretch);
  PCMatrix2->horizontalHeader()->setSectionResizeMode(kColPrinter, QHeaderView::Stretch);
  PCMatrix2->setColumnWidth(kColId, 40);
  PCMatrix2->setFixedHeight(150);
  auto* deleteKey = new QShortcut(QKeySequence(Qt::Key_Delete), PCMatrix2);
  deleteKey->setContext(Qt::WidgetShortcut);
  connect(deleteKey, &QShortcut::activated, this, [this] { PCMatrix2KeyUp(Qt::Key_Delete); });
  connect(PCMatrix2, &QTableWidget::cellClicked, this, [this](int r, int c) {
    if (c == kColActive)
      Column_ActiveChange(r);
    else
      PCMatrix2SelectCell(r, c);
  });
  connect(PCMatrix2, &QTableWidget::cellDoubleClicked, this, [this] { PCMatrix2CellDblClick(); });
  connect(PCMatrix2->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
          [this](int column, Qt::SortOrder) { sortColumn = column; });
  left->addWidget(PCMatrix2);

  // The save bar right under the grid.
  PNsave = Named(new QFrame, "PNsave");
  auto* save = new QHBoxLayout(PNsave);
  save->setContentsMargins(0, 0, 0, 0);
  BNcreateNewChannel =
      Named(new QPushButton(QStringLiteral("Create new channel")), "BNcreateNewChannel");
  SetHint(BNcreateNewChannel, QStringLiteral("Create new print channel"));
  save->addWidget(BNcreateNewChannel);
  BNtestBMP = Named(new QPushButton(QStringLiteral("Test JPG\nprintout")), "BNtestBMP");
  BNtestPDF = Named(new QPushButton(QStringLiteral("Test PDF\nprintout")), "BNtestPDF");
  BNtestPRN = Named(new QPushButton(QStringLiteral("Test PRN\nprintout")), "BNtestPRN");
  for (QPushButton* b : {BNtestBMP, BNtestPDF, BNtestPRN}) {
    SetHint(b, QStringLiteral("#29"));
    b->setEnabled(false);
    save->addWidget(b);
  }
  save->addStretch();
  LBsavesignal = Named(new QLabel(QStringLiteral("Print channel settings have been changed or\n"
                                                 "created. Do not forget saving the new settings")),
                       "LBsavesignal");
  LBsavesignal->setStyleSheet(QStringLiteral("color: #a06000;"));
  save->addWidget(LBsavesignal);
  auto signalShape = [](const char* name) {
    auto* shape = Named(new QFrame, name);
    shape->setFixedSize(12, 30);
    shape->setStyleSheet(QStringLiteral("background: yellow; border-radius: 6px;"));
    return shape;
  };
  SHsaveSignal0 = signalShape("SHsaveSignal0");
  save->addWidget(SHsaveSignal0);
  BNoverwriteChannel = Named(new QPushButton(QStringLiteral("Save changes")), "BNoverwriteChannel");
  save->addWidget(BNoverwriteChannel);
  SHsaveSignal1 = signalShape("SHsaveSignal1");
  save->addWidget(SHsaveSignal1);
  BNappendChannel =
      Named(new QPushButton(QStringLiteral("Append as a new channel ")), "BNappendChannel");
  save->addWidget(BNappendChannel);
  left->addWidget(PNsave);
  connect(BNcreateNewChannel, &QPushButton::clicked, this, &TForm1::BNcreateNewChannelClick);
  connect(BNoverwriteChannel, &QPushButton::clicked, this, &TForm1::BNoverwriteChannelClick);
  connect(BNappendChannel, &QPushButton::clicked, this, &TForm1::BNappendChannelClick);

  auto* steps = new QHBoxLayout;
  left->addLayout(steps, 1);

  // Step 1: the input folder, its interval and its week.
  QVBoxLayout* s1 = nullptr;
  auto* step1 = StepBox("GBstep1",
                        " STEP 1    Define an input folder which is periodically scanned for "
                        "new print-files",
                        &s1);
  auto* folderRow = new QHBoxLayout;
  EDsourceFolder = Named(new QLineEdit, "EDsourceFolder");
  EDsourceFolder->setReadOnly(true);  // set by the folder chooser and by code only
  EDsourceFolder->setMaxLength(kTextFieldChars);
  SetHint(EDsourceFolder, QStringLiteral("#6"));
  folderRow->addWidget(EDsourceFolder, 1);
  BNdefineDir = Named(new QPushButton(QStringLiteral("...")), "BNdefineDir");
  SetHint(BNdefineDir, QStringLiteral("#6"));
  folderRow->addWidget(BNdefineDir);
  s1->addLayout(folderRow);
  LBfolderMessage = Named(new QLabel, "LBfolderMessage");
  s1->addWidget(LBfolderMessage);
  // Whether the service could use the folder: a line of its own under the folder check.
  LBserviceFolder = Named(new QLabel, "LBserviceFolder");
  LBserviceFolder->setWordWrap(true);
  LBserviceFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);  // the command to copy
  LBserviceFolder->setStyleSheet(QStringLiteral("color: rgb(192, 64, 0);"));
  LBserviceFolder->hide();
  s1->addWidget(LBserviceFolder);
  auto* freqPanel = Named(new QFrame, "PNfreq");
  SetHint(freqPanel, QStringLiteral("#8"));
  auto* freqRow = new QHBoxLayout(freqPanel);
  freqRow->setContentsMargins(0, 0, 0, 0);
  freqRow->addWidget(new QLabel(QStringLiteral("Scan the folder every")));
  SEfreq = Named(new QSpinBox, "SEfreq");
  SEfreq->setRange(1, 9999);
  SEfreq->setValue(10);
  freqRow->addWidget(SEfreq);
  freqRow->addWidget(new QLabel(QStringLiteral("seconds")));
  freqRow->addStretch();
  s1->addWidget(freqPanel);
  CBprintPathActive = Named(new QCheckBox(page), "CBprintPathActive");
  CBprintPathActive->setChecked(true);
  CBprintPathActive->hide();  // never shown: the grid's Active column shows it

  // The week of the channel shown: seven day frames side by side under their row labels.
  auto* scheduler = Named(new QGroupBox(QStringLiteral(" Scheduler")), "GBscheduler");
  SetHint(scheduler, QStringLiteral("#11"));
  scheduler->setFixedSize(76 + 62 * kScheduleDays + 12, 6 + 84 + 26);
  step1->setFixedWidth(scheduler->width() + 24);
  auto* caption = new QLabel(QStringLiteral("Active time period"), scheduler);
  caption->setGeometry(4, 18, 72, 30);
  caption->setWordWrap(true);
  (new QLabel(QStringLiteral("Start"), scheduler))->setGeometry(30, 68, 40, 18);
  (new QLabel(QStringLiteral("Stop"), scheduler))->setGeometry(30, 92, 40, 18);
  for (int32_t i = 0; i < kScheduleDays; ++i) {
    days[i] = new TFrameStartStopTime(scheduler, i);
    days[i]->move(76 + 62 * i, 6 + 16);
    days[i]->show();
  }
  s1->addWidget(scheduler);
  auto* leftSteps = new QVBoxLayout;
  leftSteps->addWidget(step1);
  steps->addLayout(leftSteps);
  connect(BNdefineDir, &QPushButton::clicked, this, &TForm1::BNdefineDirClick);
  connect(EDsourceFolder, &QLineEdit::textChanged, this, [this] { EDsourceFolderChange(); });

  auto* right = new QVBoxLayout;
  steps->addLayout(right, 1);

  // Step 2: the output and its printer section.
  QVBoxLayout* s2 = nullptr;
  auto* step2 = StepBox("GBstep2",
                        " STEP 2   Choose a printer or screen for output and check driver "
                        "settings",
                        &s2);
  CBprinters = Named(new QComboBox, "CBprinters");
  CBprinters->setEditable(true);
  CBprinters->setInsertPolicy(QComboBox::NoInsert);
  CBprinters->lineEdit()->setMaxLength(kPrinterNameChars);
  // The list may hold long queue names; the column stays as wide as the page allows.
  CBprinters->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  CBprinters->setMinimumContentsLength(16);
  SetHint(CBprinters, QStringLiteral("#7"));
  s2->addWidget(CBprinters);
  SEcopies = Named(new QSpinBox, "SEcopies");
  SEcopies->setRange(1, 100);
  SEcopies->setValue(1);
  SetHint(SEcopies, QStringLiteral("#12"));
  SEmaxJobsInSpooler = Named(new QSpinBox, "SEmaxJobsInSpooler");
  SEmaxJobsInSpooler->setRange(0, 9999);
  SEmaxJobsInSpooler->setValue(0);
  s2->addWidget(BuildPrinterSection());
  right->addWidget(step2);

  // Step 3: what becomes of the file.
  QVBoxLayout* s3 = nullptr;
  auto* step3 =
      StepBox("GBstep3", " STEP 3   Decide what to do with the input file after the job", &s3);
  SetHint(step3, QStringLiteral("#9"));
  RBdelete = Named(new QRadioButton(QStringLiteral("...delete the file")), "RBdelete");
  RBdelete->setChecked(true);
  s3->addWidget(RBdelete);
  RBmove =
      Named(new QRadioButton(QStringLiteral("...move the file into the following archive folder")),
            "RBmove");
  s3->addWidget(RBmove);
  auto* moveRow = new QHBoxLayout;
  EDmoveDir = Named(new QLineEdit, "EDmoveDir");
  EDmoveDir->setMaxLength(kTextFieldChars);
  moveRow->addWidget(EDmoveDir, 1);
  BNdefineFileArchive = Named(new QPushButton(QStringLiteral("...")), "BNdefineFileArchive");
  moveRow->addWidget(BNdefineFileArchive);
  s3->addLayout(moveRow);
  auto* note = new QLabel(QStringLiteral(
      "If a file name is repeated it will be modified by adding a timestamp-id.\n"
      "Watch the folder for overloading ! Be careful if using an Vellumora file input folder - "
      "you may end in a print-loop!"));
  note->setWordWrap(true);
  s3->addWidget(note);
  step3->setFixedWidth(step1->width());
  leftSteps->addWidget(step3);
  leftSteps->addStretch();
  right->addStretch();
  connect(BNdefineFileArchive, &QPushButton::clicked, this, &TForm1::BNdefineFileArchiveClick);

  // The help panel, and the error panel that covers it once an error is reported.
  auto* helpCell = new QGridLayout;
  HelpPrinters = HelpPanel("HelpPrinters", "#4");
  HelpPrinters->setPlainText(QStringLiteral("For help just move mouse over relevant fields...."));
  HelpPrinters->setFixedWidth(240);  // the printer step needs the room
  helpCell->addWidget(HelpPrinters, 0, 0);
  QWidget* errors = BuildErrorPanel();
  errors->setFixedWidth(HelpPrinters->width());
  helpCell->addWidget(errors, 0, 0);
  row->addLayout(helpCell);

  TimerCheckChanges = Named(new QTimer(this), "TimerCheckChanges");
  TimerCheckChanges->setInterval(kChangeCheckMs);
  connect(TimerCheckChanges, &QTimer::timeout, this, &TForm1::TimerCheckChangesTimer);
  TimerCheckChanges->start();
  SetSaveSignal(false);
  BNoverwriteChannel->setEnabled(false);
  BNappendChannel->setEnabled(false);

  chooseFolder = [this](const QString& title, const QString& start) {
    return QFileDialog::getExistingDirectory(
        this, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  };
  return page;
}

QWidget* TForm1::BuildLayoutHeadline() {
  auto* head = Named(new QFrame, "PNlayoutHeadline");
  auto* row = new QHBoxLayout(head);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLabel(QStringLiteral(" Print channel")));
  BNchDn = Named(new QPushButton(QStringLiteral("<")), "BNchDn");
  BNchDn->setFixedWidth(28);
  row->addWidget(BNchDn);
  LBchannel = Named(new QLabel(QStringLiteral("0")), "LBchannel");
  LBchannel->setAlignment(Qt::AlignCenter);
  LBchannel->setMinimumWidth(30);
  row->addWidget(LBchannel);
  BNchUp = Named(new QPushButton(QStringLiteral(">")), "BNchUp");
  BNchUp->setFixedWidth(28);
  row->addWidget(BNchUp);
  LBinputFolder = Named(new QLabel, "LBinputFolder");
  row->addWidget(LBinputFolder, 1);
  LBprinter = Named(new QLabel, "LBprinter");
  row->addWidget(LBprinter, 1);
  BNtestBMP2 = Named(new QPushButton(QStringLiteral("Test printout")), "BNtestBMP2");
  row->addWidget(BNtestBMP2);
  SHsaveSignal2 = Named(new QFrame, "SHsaveSignal2");
  SHsaveSignal2->setFixedSize(12, 30);
  SHsaveSignal2->setStyleSheet(QStringLiteral("background: yellow; border-radius: 6px;"));
  row->addWidget(SHsaveSignal2);
  BNoverwriteChannel2 =
      Named(new QPushButton(QStringLiteral("Save changes")), "BNoverwriteChannel2");
  BNoverwriteChannel2->setEnabled(false);
  row->addWidget(BNoverwriteChannel2);
  connect(BNchUp, &QPushButton::clicked, this, &TForm1::BNchUpClick);
  connect(BNchDn, &QPushButton::clicked, this, &TForm1::BNchDnClick);
  connect(BNoverwriteChannel2, &QPushButton::clicked, this, &TForm1::BNoverwriteChannelClick);
  connect(BNtestBMP2, &QPushButton::clicked, this, [this] { BNtestBMPClick(BNtestBMP2); });
  SHsaveSignal2->hide();
  return head;
}

void TForm1::FillPrinterList() {
  std::vector<std::string> names = printers::Names();
  std::sort(names.begin(), names.end());
  const QString shown = CBprinters->currentText();
  CBprinters->clear();
  CBprinters->addItem(QStringLiteral("SCREEN"));
  for (const std::string& name : names) CBprinters->addItem(QString::fromStdString(name));
  const std::string standard = printers::DefaultName();
  CBprinters->setCurrentText(standard.empty() ? shown : QString::fromStdString(standard));
}

// --- the grid --------------------------------------------------------------------------

void TForm1::FillChannelGrid() {
  struct Row {
    QString folder, printer;
    bool special, active;
  };
  std::vector<Row> rows;
  {
    C_Kernel& k = context_.kernel;
    std::lock_guard lock(k.registryLock);
    const int32_t count =
        std::min<int32_t>(k.channelCount, static_cast<int32_t>(k.channels.size()));
    for (int32_t i = 0; i < count; ++i) {
      const PrintChannel& c = k.channels[i];
      rows.push_back({FieldText(c.sourceFolder, std::size(c.sourceFolder)),
                      FieldText(c.printerName, std::size(c.printerName)), c.driverSize != 0,
                      c.active != 0});
    }
  }
  if (rows.empty()) return;  // the grid keeps its rows
  PCMatrix2->setSortingEnabled(false);
  PCMatrix2->setRowCount(0);
  PCMatrix2->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    auto* id = Cell(QString());
    id->setData(Qt::DisplayRole, r + 1);  // numbers sort as numbers
    PCMatrix2->setItem(r, kColId, id);
    PCMatrix2->setItem(r, kColFolder, Cell(rows[r].folder));
    PCMatrix2->setItem(r, kColPrinter, Cell(rows[r].printer));
    PCMatrix2->setItem(
        r, kColDriver,
        Cell(rows[r].special ? QStringLiteral("Special settings") : QStringLiteral("Default")));
    auto* active = Cell(QString());
    active->setData(Qt::CheckStateRole, rows[r].active ? Qt::Checked : Qt::Unchecked);
    PCMatrix2->setItem(r, kColActive, active);
    PCMatrix2->setItem(r, kColDelete, Cell(QStringLiteral("Delete channel")));
  }
  PCMatrix2->setSortingEnabled(true);
  PCMatrix2->sortByColumn(sortColumn, Qt::AscendingOrder);
  ShowChannelRowColours();
}

int TForm1::RowOfChannel(int32_t index) const {
  for (int r = 0; r < PCMatrix2->rowCount(); ++r)
    if (QTableWidgetItem* id = PCMatrix2->item(r, kColId);
        id && id->data(Qt::DisplayRole).toInt() == index + 1)
      return r;
  return -1;
}

void TForm1::ShowChannelRowColours() {
  const int selected = RowOfChannel(editIndex);
  for (int r = 0; r < PCMatrix2->rowCount(); ++r) {
    for (int c = kColId; c <= kColPrinter; ++c)
      if (QTableWidgetItem* item = PCMatrix2->item(r, c))
        item->setBackground(WinColor(r == selected ? kRowSelected : kRowOther));
    if (QTableWidgetItem* driver = PCMatrix2->item(r, kColDriver)) {
      const bool special = driver->text() == QLatin1String("Special settings");
      driver->setBackground(WinColor(special ? kDriverSpecial : kRowOther));
      driver->setForeground(special ? QColor(Qt::blue) : QColor(Qt::black));
    }
    if (QTableWidgetItem* active = PCMatrix2->item(r, kColActive))
      active->setBackground(WinColor(
          active->data(Qt::CheckStateRole).toInt() == Qt::Checked ? kActiveOn : kActiveOff));
    if (QTableWidgetItem* action = PCMatrix2->item(r, kColDelete))
      action->setForeground(QColor(Qt::red));
  }
  if (selected >= 0) PCMatrix2->scrollToItem(PCMatrix2->item(selected, kColId));
}

void TForm1::PCMatrix2SelectCell(int row, int column) {
  if (column == kColActive || row < 0 || row >= PCMatrix2->rowCount()) return;
  // The scan loop writes the records' count downs as it goes: no copy is taken beside it.
  if (ScanningBlocksEdits()) return;
  const int32_t index = PCMatrix2->item(row, kColId)->data(Qt::DisplayRole).toInt() - 1;
  if (column == kColDelete && index >= 0) {
    // The controls still show the channel shown before until the answer is in.
    AskDeleteChannel(index);
  } else {
    editIndex = index;
    LoadChannelControls(false);
  }
  CheckPrinterAccess();
}

void TForm1::Column_ActiveChange(int row) {
  if (row < 0 || row >= PCMatrix2->rowCount() || ScanningBlocksEdits()) return;
  editIndex = PCMatrix2->item(row, kColId)->data(Qt::DisplayRole).toInt() - 1;
  activeToggled = true;
  activeToggledIndex = editIndex;
  LoadChannelControls(false);
  CheckPrinterAccess();
}

void TForm1::PCMatrix2KeyUp(int key) {
  if (key == Qt::Key_Delete && editIndex >= 0) AskDeleteChannel(editIndex);
}

void TForm1::PCMatrix2CellDblClick() {
  SelectPageByCode(TabSheet4);
}

bool TForm1::ScanRunning() const {
  return scanningActive.load() != 0 || (main_ && main_->EngineRunning());
}

bool TForm1::ScanningBlocksEdits() {
  // The scan loop reads the channel array without a lock: it is changed only while no scan
  // runs (scanning may have been started from the main window with the dialog open).
  if (!ScanRunning()) return false;
  ShowStatus(QStringLiteral("Stop scanning before changing print channels"));
  return true;
}

void TForm1::AskDeleteChannel(int32_t index) {
  if (ScanningBlocksEdits()) return;
  // One stray click must not lose a channel's whole configuration: ask first. While the
  // question waits nothing may save: the change check rests and the dialog takes no input.
  TimerCheckChanges->stop();
  setEnabled(false);
  const char answer = info_ ? info_->Ask(QStringLiteral("Delete print channel %1?").arg(index + 1),
                                         0, QString(), kAskQuestion)
                            : kAnswerNo;
  setEnabled(true);
  TimerCheckChanges->start();
  if (answer == kAnswerYes) {
    DeleteChannel(index);
    LoadChannelControls(true);
  }
}

void TForm1::DeleteChannel(int32_t index) {
  if (ScanningBlocksEdits()) return;
  C_Kernel& k = context_.kernel;
  int32_t count = 0;
  {
    std::lock_guard lock(k.registryLock);
    if (index < 0 || index >= k.channelCount ||
        static_cast<std::size_t>(index) >= k.channels.size())
      return;
    k.channels.erase(k.channels.begin() + index);  // the spare slot stays behind the last
    if (k.channelCount > 0) --k.channelCount;
    count = k.channelCount;
  }
  editIndex = index < count - 1 ? index : index - 1;
  SaveSettings(false);
  if (count == 0) PCMatrix2->setRowCount(0);
}

// --- loading and storing ---------------------------------------------------------------

void TForm1::LoadChannelControls(bool refillGrid) {
  C_Kernel& k = context_.kernel;
  if (refillGrid) FillChannelGrid();
  if (CBprinters->currentText().isEmpty() && CBprinters->count() == 0) FillPrinterList();
  PageControl1->setTabText(
      PageControl1->indexOf(TabSheet4),
      editIndex < 0 ? QString()
                    : QStringLiteral("Print channel (%1) page layout settings (optional)")
                          .arg(editIndex + 1));
  LBchannel->setText(QString::number(editIndex + 1));
  ShowChannelRowColours();

  int32_t count = 0;
  bool valid = false;
  {
    std::lock_guard lock(k.registryLock);
    count = k.channelCount;
    valid = editIndex >= 0 && editIndex < count &&
            static_cast<std::size_t>(editIndex) < k.channels.size();
    if (valid) std::memcpy(&editChannel, &k.channels[editIndex], sizeof editChannel);
  }
  if (count == 0 && editIndex < 0) {
    CreateFirstChannels();
    return;
  }
  if (!valid) return;

  const QString folder = FieldText(editChannel.sourceFolder, std::size(editChannel.sourceFolder));
  const QString printer = FieldText(editChannel.printerName, std::size(editChannel.printerName));
  CBprinters->setCurrentText(printer);
  EDsourceFolder->setText(folder);
  EDmoveDir->setText(FieldText(editChannel.moveDir, std::size(editChannel.moveDir)));
  SEfreq->setValue(editChannel.freq);
  SEcopies->setValue(editChannel.copies);
  SEmaxJobsInSpooler->setValue(editChannel.maxJobsInSpooler);
  CBprintPathActive->setChecked(editChannel.active != 0);
  RBdelete->setAutoExclusive(false);
  RBmove->setAutoExclusive(false);
  RBdelete->setChecked(editChannel.deleteFile != 0);
  RBmove->setChecked(editChannel.moveFile != 0);
  RBdelete->setAutoExclusive(true);
  RBmove->setAutoExclusive(true);
  LoadLayoutControls();
  LBprinter->setText(printer);
  LBinputFolder->setText(folder);
  DrawLayoutPreview();
  for (TFrameStartStopTime* day : days) day->LoadDay(editChannel);

  // What the controls hold is the channel as loaded: a record with bytes the controls cannot
  // show (text after a terminator, an interval of 0) must not count as an unsaved edit.
  StoreChannelControls();
  std::memcpy(&savedChannel, &editChannel, sizeof savedChannel);

  if (!folder.isEmpty() && !IsDirectory(folder.toStdString())) ReportSetupError(201);
  // The Active click belongs to the channel it was made on; loading another drops it.
  if (activeToggled && activeToggledIndex == editIndex)
    CBprintPathActive->setChecked(!CBprintPathActive->isChecked());
  else
    activeToggled = false;
}

void TForm1::StoreChannelControls() {
  PrintChannel& c = editChannel;
  WriteField(c.sourceFolder, EDsourceFolder->text().left(kTextFieldChars).toStdString());
  WriteField(c.moveDir, EDmoveDir->text().left(kTextFieldChars).toStdString());
  WriteField(c.printerName, CBprinters->currentText().left(kPrinterNameChars).toStdString());
  c.freq = SEfreq->value();
  c.copies = SEcopies->value();
  c.maxJobsInSpooler = SEmaxJobsInSpooler->value();
  c.active = CBprintPathActive->isChecked() ? 1 : 0;
  c.moveFile = RBmove->isChecked() ? 1 : 0;
  c.deleteFile = RBdelete->isChecked() ? 1 : 0;
  StoreLayoutControls();
  for (TFrameStartStopTime* day : days) day->StoreDay(c);
}

// --- saving, appending, creating ----------------------------------------------------------

void TForm1::CompleteTimeEdits() {
  for (TFrameStartStopTime* day : days)
    for (QLineEdit* edit : {day->ED1, day->ED2, day->ED3, day->ED4}) day->ED1Exit(edit);
}

void TForm1::BNoverwriteChannelClick() {
  if (ScanningBlocksEdits()) return;
  C_Kernel& k = context_.kernel;
  // A time typed half ("7") is completed as leaving its edit would, and what was typed since
  // the last change check is saved too.
  CompleteTimeEdits();
  FlushLayoutUpdate();
  StoreChannelControls();
  {
    std::lock_guard lock(k.registryLock);
    if (editIndex < 0 || editIndex >= k.channelCount ||
        static_cast<std::size_t>(editIndex) >= k.channels.size())
      return;
  }
  MakeSourceFolder();
  {
    std::lock_guard lock(k.registryLock);
    std::memcpy(&k.channels[editIndex], &editChannel, sizeof editChannel);
  }
  CheckPrinterAccess();
  SaveSettings(false);
  LoadChannelControls(true);
}

void TForm1::BNappendChannelClick() {
  if (ScanningBlocksEdits()) return;
  C_Kernel& k = context_.kernel;
  MakeSourceFolder();
  CheckPrinterAccess();
  CompleteTimeEdits();
  FlushLayoutUpdate();
  StoreChannelControls();
  PrintChannel& spare = SpareChannelSlot(k);
  {
    std::lock_guard lock(k.registryLock);
    std::memcpy(&spare, &editChannel, sizeof editChannel);  // with its driver settings
    editIndex = k.channelCount;
  }
  sortColumn = 0;
  SaveSettings(true);
  LoadChannelControls(true);
}

void TForm1::BNcreateNewChannelClick() {
  BNcreateNewChannel->setEnabled(false);
  CreateNewChannel();
  WaitPumping(2000);  // a double click creates one channel, not two
  BNcreateNewChannel->setEnabled(true);
}

void TForm1::CreateNewChannel() {
  if (ScanningBlocksEdits()) return;
  C_Kernel& k = context_.kernel;
  const QString offered = general->EDdefaultPrintFolder->text();
  if (offered.size() > 3)
    EDsourceFolder->setText(offered);
  else if (EDsourceFolder->text().size() < 4)
    EDsourceFolder->setText(QString::fromStdString(DefaultFolder()));
  MakeSourceFolder();
  if (editIndex < 0) {
    // Nothing shown before to take the rest from: a fresh record's defaults.
    editChannel = NewChannelRecord(EDsourceFolder->text().toStdString(),
                                   CBprinters->currentText().toStdString(), 10);
  }
  SEfreq->setValue(10);
  SEcopies->setValue(1);
  SEmaxJobsInSpooler->setValue(0);
  RBdelete->setChecked(true);
  CBprintPathActive->setChecked(true);
  // A folder that already holds files (or cannot be used) leaves the new channel off, so that
  // it never starts by printing and deleting what was there.
  EDsourceFolderChange();
  for (TFrameStartStopTime* day : days) {
    for (QLineEdit* edit : {day->ED1, day->ED2, day->ED3, day->ED4})
      edit->setText(QStringLiteral("00"));
    day->CB->setChecked(true);
  }
  CheckPrinterAccess();
  StoreChannelControls();
  editChannel.geometry.borderRect.left = editChannel.geometry.paperRect.left;  // left border 0
  editChannel.driverSize = 0;  // a new channel has no special driver settings
  std::memset(editChannel.driverData, 0, sizeof editChannel.driverData);
  PrintChannel& spare = SpareChannelSlot(k);
  {
    std::lock_guard lock(k.registryLock);
    std::memcpy(&spare, &editChannel, sizeof editChannel);
    editIndex = k.channelCount;
  }
  sortColumn = 0;
  SaveSettings(true);
  LoadChannelControls(true);
}

void TForm1::CreateFirstChannels() {
  if (ScanningBlocksEdits()) return;
  C_Kernel& k = context_.kernel;
  {
    std::lock_guard lock(k.registryLock);
    if (k.channelCount >= 1) return;
  }
  sortColumn = 0;
  vellumora::CreateFirstChannels(k, DefaultFolder(), printers::DefaultName(),
                                 FolderCheckAccount(context_.service));
  int32_t count = 0;
  {
    std::lock_guard lock(k.registryLock);
    count = k.channelCount;
  }
  if (count < 1) return;  // reported in the log; trying again at once would loop
  editIndex = count - 1;
  LoadChannelControls(true);
}

std::string TForm1::DefaultFolder() const {
  if (main_ && main_->defaultFilesFolder) return main_->defaultFilesFolder();
  return DefaultFilesFolder();
}

// --- the input and archive folders ---------------------------------------------------------

bool TForm1::IsFolderEmpty(const std::string& path) {
  std::error_code ec;
  fs::directory_iterator it(path, ec);
  // A folder that cannot be listed may hold anything: it does not count as empty.
  return !ec && it == fs::directory_iterator();
}

void TForm1::EDsourceFolderChange() {
  LBfolderMessage->setStyleSheet(QStringLiteral("color: rgb(255, 0, 0);"));
  LBfolderMessage->clear();
  LBserviceFolder->clear();
  LBserviceFolder->hide();
  const std::string s = EDsourceFolder->text().toStdString();
  const std::size_t n = s.size();
  const bool remote = s.rfind("//", 0) == 0;
  auto refuse = [this](const char* message) {
    LBfolderMessage->setText(QString::fromLatin1(message));
    CBprintPathActive->setChecked(false);
  };
  if (!remote && s == "/")
    return refuse("Print file pickup from a local root folder is not allowed!");
  if (remote) {
    const std::size_t last = s.rfind('/');
    if (n > 4 && last == n - 2)
      return refuse("Print file pickup from a remote root folder is not allowed!");
    if (last == 1) return;  // only a server name so far
  }
  if (context_.kernel.TestFolderAccess(s, false) < 2)
    return refuse("Folder not available or access privileges not sufficient!");
  ShowServiceFolderLine(s);
  if (IsFolderEmpty(s)) {
    LBfolderMessage->setStyleSheet(QStringLiteral("color: rgb(0, 128, 0);"));
    LBfolderMessage->setText(QStringLiteral("Folder access verified"));
    const int row = RowOfChannel(editIndex);
    if (row >= 0 && PCMatrix2->item(row, kColFolder))
      PCMatrix2->item(row, kColFolder)->setText(EDsourceFolder->text());
  } else {
    refuse("The folder is not empty. Already existing files may be deleted!");
  }
}

void TForm1::MakeSourceFolder() {
  const std::string folder = EDsourceFolder->text().toStdString();
  if (folder.empty() || IsDirectory(folder)) return;
  MakeFolder(context_.kernel, folder, FolderCheckAccount(context_.service));
  if (IsDirectory(folder)) ShowServiceFolderLine(folder);
}

void TForm1::ShowServiceFolderLine(const std::string& folder) {
  const std::vector<std::string> lines = ServiceFolderWarnings(
      folder, FolderCheckAccount(context_.service), context_.service.installed);
  QStringList text;
  for (const std::string& line : lines) {
    QString one = QString::fromStdString(line);
    if (!one.isEmpty()) one[0] = one[0].toUpper();
    text << one;
  }
  LBserviceFolder->setText(text.join(QLatin1Char('\n')));
  LBserviceFolder->setVisible(!text.isEmpty());
}

void TForm1::BNdefineDirClick() {
  const QString current = EDsourceFolder->text();
  const QString start =
      !current.isEmpty() && IsDirectory(current.toStdString()) ? current : QStringLiteral("/");
  // A folder made in the chooser (its "new folder") is one this dialog created: the service's
  // account gets it, as it gets the folders the dialog makes itself.
  const int64_t openedNs = FileClockNowNs();
  const QString chosen =
      chooseFolder(QStringLiteral("Choose or define a print file folder"), start);
  if (chosen.size() > 1 && IsNewEmptyFolderOfOurs(chosen.toStdString(), openedNs))
    GrantChannelFolder(context_.kernel, chosen.toStdString(), FolderCheckAccount(context_.service));
  // The root folder is refused; any other folder is a candidate.
  if (chosen.size() > 1) {
    EDsourceFolder->setText(chosen);
    CBprintPathActive->setChecked(IsFolderEmpty(chosen.toStdString()));
  }
}

void TForm1::BNdefineFileArchiveClick() {
  const QString current = EDmoveDir->text();
  const QString start =
      !current.isEmpty() && IsDirectory(current.toStdString()) ? current : QStringLiteral("/");
  const int64_t openedNs = FileClockNowNs();  // as for the input folder
  const QString chosen = chooseFolder(QStringLiteral("Choose or create an archive folder"), start);
  if (chosen.isEmpty()) return;
  if (IsNewEmptyFolderOfOurs(chosen.toStdString(), openedNs))
    GrantChannelFolder(context_.kernel, chosen.toStdString(), FolderCheckAccount(context_.service));
  if (!IsDirectory(chosen.toStdString())) {
    const char answer = info_ ? info_->Ask(QStringLiteral("The folder ") + chosen +
                                               QStringLiteral(" does not exist. Create it?"),
                                           0, QString(), kAskQuestion)
                              : kAnswerNo;
    if (answer != kAnswerYes) return;
    MakeFolder(context_.kernel, chosen.toStdString(), FolderCheckAccount(context_.service));
    if (!IsDirectory(chosen.toStdString())) return;
  }
  EDmoveDir->setText(chosen);
}

// --- the change check and the arrows ------------------------------------------------------

void TForm1::SetSaveSignal(bool shown) {
  for (QWidget* w :
       std::initializer_list<QWidget*>{LBsavesignal, SHsaveSignal0, SHsaveSignal1, SHsaveSignal2})
    if (w) w->setVisible(shown);
}

void TForm1::TimerCheckChangesTimer() {
  QWidget* page = PageControl1->currentWidget();
  if (page != TabSheet2 && page != TabSheet4) return;
  if (scanningActive.load() != 0) return;  // nothing is saved beneath the scan loop
  blinkState = !blinkState;
  StoreChannelControls();
  if (page == TabSheet4 && editIndex < 0) SelectPageByCode(TabSheet2);
  if (editIndex >= 0) RefreshSpecialDriverPanel();
  const bool changed =
      editIndex >= 0 && std::memcmp(&editChannel, &savedChannel, sizeof editChannel) != 0;
  if (changed) {
    for (QPushButton* b : {BNoverwriteChannel, BNoverwriteChannel2, BNappendChannel})
      b->setEnabled(true);
    SetSaveSignal(blinkState);
    RefreshTestButtons(true);
    if (activeToggled) {
      activeToggled = false;
      BNoverwriteChannelClick();
    }
    if (settingsDirty) {
      settingsDirty = false;
      BNoverwriteChannelClick();
      close();
    }
  } else {
    for (QPushButton* b : {BNoverwriteChannel, BNoverwriteChannel2, BNappendChannel})
      b->setEnabled(false);
    SetSaveSignal(false);
    RefreshTestButtons(false);
  }
}

void TForm1::BNchUpClick() {
  bool ok = false;
  int n = LBchannel->text().toInt(&ok);
  if (!ok || n <= 0) n = 1;
  if (n < PCMatrix2->rowCount()) {
    const int row = RowOfChannel(n);  // the next channel
    if (row >= 0) PCMatrix2SelectCell(row, kColFolder);
  }
}

void TForm1::BNchDnClick() {
  bool ok = false;
  int n = LBchannel->text().toInt(&ok);
  if (!ok || n <= 0) n = 1;
  if (n >= 2) {
    const int row = RowOfChannel(n - 2);  // the previous channel
    if (row >= 0) PCMatrix2SelectCell(row, kColFolder);
  }
}

}  // namespace vellumora::ui
