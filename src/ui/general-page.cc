// The "General setup" page of the setup dialog.
#include "ui/general-page.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/control-hints.h"
#include "ui/help-panel.h"
#include "ui/service-panel.h"

namespace vellumora::ui {

namespace {

QCheckBox* Box(const char* name, const char* caption) {
  return Named(new QCheckBox(QString::fromUtf8(caption)), name);
}

QLabel* Note(const char* text) {
  auto* label = new QLabel(QString::fromUtf8(text));
  label->setWordWrap(true);
  return label;
}

}  // namespace

GeneralPage::GeneralPage(ServicePanel* servicePanel, QWidget* parent)
    : QWidget(parent), Panel3(servicePanel) {
  auto* page = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  page->addLayout(left, 3);

  // The log line's parts and the log's length.
  auto* logGroup = Named(new QGroupBox(QStringLiteral(" Log ")), "GBlog");
  SetHint(logGroup, QStringLiteral("#1"));
  auto* logLayout = new QVBoxLayout(logGroup);
  logLayout->addWidget(Note("Information sent to log file/window after each print file transfer"));
  auto* logBoxes = new QHBoxLayout;
  CBlogDate = Box("CBlogDate", "Date");
  CBlogTime = Box("CBlogTime", "Time");
  CBlogFilename = Box("CBlogFilename", "File name");
  CBlogPrinteraddress = Box("CBlogPrinteraddress", "Printer address");
  for (QCheckBox* box : {CBlogDate, CBlogTime, CBlogFilename, CBlogPrinteraddress})
    logBoxes->addWidget(box);
  logBoxes->addStretch();
  logLayout->addLayout(logBoxes);
  auto* sizeRow = new QHBoxLayout;
  SElogMaxSize = Named(new QSpinBox, "SElogMaxSize");
  SElogMaxSize->setRange(100, 10000);
  SElogMaxSize->setSingleStep(50);
  SElogMaxSize->setValue(1000);
  sizeRow->addWidget(SElogMaxSize);
  sizeRow->addWidget(new QLabel(QStringLiteral("Maximum number of lines of the log file")));
  sizeRow->addStretch();
  logLayout->addLayout(sizeRow);
  logLayout->addWidget(Note("File will be trucated to 67% if limit is reached"));
  left->addWidget(logGroup);

  // The kernel's own options.
  auto* kernelGroup = Named(new QGroupBox(QStringLiteral(" Vellumora kernel ")), "GBkernel");
  auto* kernelLayout = new QVBoxLayout(kernelGroup);
  kernelLayout->addWidget(Note("Here you may override certain standard settings of the Vellumora kernel"));
  CBdebug = Box("CBdebug", "Debug modus - Enables more detailed error logging");
  kernelLayout->addWidget(CBdebug);
  CBnoStopOnError = Box("CBnoStopOnError",
                        "Keep Vellumora running after file handling errors (default = unchecked)");
  CBnoStopOnError->setEnabled(false);  // shown, never stored
  kernelLayout->addWidget(CBnoStopOnError);
  kernelLayout->addWidget(Note("Be very careful with this one: errors during file deletion or file "
                               "moving may result in endless printing of the same page(s) !"));
  CBaccessCheckAtStart = Box("CBaccessCheckAtStart",
                             "Printer and folders access privileges checking at service or "
                             "application startup");
  kernelLayout->addWidget(CBaccessCheckAtStart);
  kernelLayout->addWidget(Note("A high number of print channels may result in high CPU activity "
                               "and low system responsiveness at startup."));
  CBusePDFThread = Box("CBusePDFThread",
                       "Render PDF-files through an individual CPU thread  (experimental)");
  SetHint(CBusePDFThread, QStringLiteral("#19"));
  kernelLayout->addWidget(CBusePDFThread);
  CBnoGDI = Box("CBnoGDI", "Use built-in PDF-renderer rather than the default Windows GDI+ system");
  SetHint(CBnoGDI, QStringLiteral("#21"));
  kernelLayout->addWidget(CBnoGDI);

  auto* folderLabel = new QLabel(QStringLiteral(
      "Folder path to be offered as print file directory when creating a new print channel"));
  SetHint(folderLabel, QStringLiteral("#16"));
  kernelLayout->addWidget(folderLabel);
  auto* folderRow = new QHBoxLayout;
  EDdefaultPrintFolder = Named(new QLineEdit, "EDdefaultPrintFolder");
  SetHint(EDdefaultPrintFolder, QStringLiteral("#16"));
  folderRow->addWidget(EDdefaultPrintFolder, 2);
  folderRow->addWidget(
      Note("Leave empty to allow Vellumora offering the latest created file folder"), 1);
  kernelLayout->addLayout(folderRow);

  CBonlyKnownTypes = Box("CBonlyKnownTypes", "Disable raw file and unknown file type printing");
  kernelLayout->addWidget(CBonlyKnownTypes);
  CBsortByDate = Box("CBsortByDate", "Print order by file date (by file name otherwise)");
  SetHint(CBsortByDate, QStringLiteral("#18"));
  kernelLayout->addWidget(CBsortByDate);

  auto* cpuPanel = Named(new QFrame, "PNmaxCPUload");
  SetHint(cpuPanel, QStringLiteral("#17"));
  auto* cpuRow = new QHBoxLayout(cpuPanel);
  cpuRow->setContentsMargins(0, 0, 0, 0);
  SEmaxCPUload = Named(new QSpinBox, "SEmaxCPUload");
  SEmaxCPUload->setRange(10, 100);
  SEmaxCPUload->setSingleStep(10);
  SEmaxCPUload->setValue(100);
  cpuRow->addWidget(SEmaxCPUload);
  cpuRow->addWidget(
      new QLabel(QStringLiteral("%   Background CPU load threshold to pause Vellumora activity")));
  cpuRow->addWidget(Note("The cyclic print file scanning is temporarily interrupted if the CPU "
                         "load is exceeding this limit"),
                    1);
  kernelLayout->addWidget(cpuPanel);
  left->addWidget(kernelGroup);

  left->addWidget(Panel3);
  left->addStretch();

  HelpBasicSetup = Named(new TKHelp, "HelpBasicSetup");
  HelpBasicSetup->HelpFile = "Vellumora.htx";
  HelpBasicSetup->Paragraph = "#1";
  page->addWidget(HelpBasicSetup, 1);

  // One handler for every control: check boxes on click, the numbers on change, the folder
  // on click and on entering it.
  for (QCheckBox* box : {CBlogDate, CBlogTime, CBlogFilename, CBlogPrinteraddress, CBdebug,
                         CBaccessCheckAtStart, CBusePDFThread, CBnoGDI, CBonlyKnownTypes,
                         CBsortByDate})
    connect(box, &QCheckBox::clicked, this, &GeneralPage::CBlogDateClick);
  for (QSpinBox* number : {SElogMaxSize, SEmaxCPUload})
    connect(number, &QSpinBox::valueChanged, this, &GeneralPage::CBlogDateClick);
  EDdefaultPrintFolder->installEventFilter(this);
  connect(EDdefaultPrintFolder, &QLineEdit::textEdited, this, &GeneralPage::CBlogDateClick);
  Panel3->edited = [this] { CBlogDateClick(); };
  // Until settings are loaded the page shows, and would save, the defaults.
  LoadGeneralSettings(SystemSettings{}, SystemSettings{}.MaxLogSize);
}

bool GeneralPage::eventFilter(QObject* watched, QEvent* event) {
  // Entering the field counts, not a window that merely gets the focus back.
  if (watched == EDdefaultPrintFolder) {
    if (event->type() == QEvent::MouseButtonPress) CBlogDateClick();
    if (event->type() == QEvent::FocusIn) {
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
          reason == Qt::MouseFocusReason)
        CBlogDateClick();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void GeneralPage::CBlogDateClick() {
  if (loading_) return;
  if (onChanged) onChanged();
}

void GeneralPage::LoadGeneralSettings(const SystemSettings& s, int32_t logMaxLines) {
  loading_ = true;
  SElogMaxSize->setValue(logMaxLines);
  SEmaxCPUload->setValue(s.MaxCPUload);
  CBlogDate->setChecked(s.LogDate);
  CBlogTime->setChecked(s.LogTime);
  CBlogFilename->setChecked(s.LogFilename);
  CBlogPrinteraddress->setChecked(s.LogPrinter);
  CBdebug->setChecked(s.DebugMode);
  CBaccessCheckAtStart->setChecked(s.StartUpCheck);
  EDdefaultPrintFolder->setText(QString::fromStdString(s.DefaultFileFolder));
  CBonlyKnownTypes->setChecked(s.NoRawFilePrinting);
  CBusePDFThread->setChecked(s.UsePDFThread);
  CBnoGDI->setChecked(s.NoWindowsGDI);
  CBsortByDate->setChecked(s.SortByDate);
  loading_ = false;
}

void GeneralPage::StoreInto(SystemSettings& s) const {
  s.MaxLogSize = SElogMaxSize->value();
  s.MaxCPUload = SEmaxCPUload->value();
  s.LogDate = CBlogDate->isChecked();
  s.LogTime = CBlogTime->isChecked();
  s.LogFilename = CBlogFilename->isChecked();
  s.LogPrinter = CBlogPrinteraddress->isChecked();
  s.DebugMode = CBdebug->isChecked();
  s.StartUpCheck = CBaccessCheckAtStart->isChecked();
  s.DefaultFileFolder = EDdefaultPrintFolder->text().toStdString();
  s.NoRawFilePrinting = CBonlyKnownTypes->isChecked();
  s.UsePDFThread = CBusePDFThread->isChecked();
  s.NoWindowsGDI = CBnoGDI->isChecked();
  s.SortByDate = CBsortByDate->isChecked();
}

}  // namespace vellumora::ui
