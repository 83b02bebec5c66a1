// The setup dialog as a whole: its pages, opening and closing, saving, and the hint routing.
#include "ui/setup-dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "host/service.h"
#include "kernel/klog.h"
#include "ui/control-hints.h"
#include "ui/general-page.h"
#include "ui/help-panel.h"
#include "ui/main-window.h"
#include "ui/mobile-page.h"
#include "ui/schedule-frame.h"
#include "ui/service-panel.h"

namespace vellumora::ui {

namespace {

constexpr int kClientWidth = 1194;
constexpr int kClientHeight = 786;
constexpr char kHelpFile[] = "Vellumora.htx";

// The program a service installed from here runs: the engine without windows beside this
// program when the windows run from vellumora-gui; an installed unit's program as it stands.
std::string ServiceProgram(const C_VAZService& service) {
  const std::filesystem::path program(service.executablePath);
  if (service.installed || program.filename() != "vellumora-gui") return service.executablePath;
  const std::filesystem::path engine = program.parent_path() / "vellumora";
  std::error_code ec;
  return std::filesystem::is_regular_file(engine, ec) ? engine.string() : service.executablePath;
}

}  // namespace

TKHelp* HelpPanel(const char* name, const char* paragraph) {
  auto* help = Named(new TKHelp, name);
  help->HelpFile = kHelpFile;
  help->Paragraph = paragraph;
  help->setFixedWidth(300);
  return help;
}

TForm1::TForm1(DesktopContext& context, QString shareDirectory)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      context_(context),
      shareDirectory_(std::move(shareDirectory)) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Vellumora Setup"));
  setFixedSize(kClientWidth, kClientHeight);

  auto* layout = new QVBoxLayout(this);
  PageControl1 = Named(new QTabWidget, "PageControl1");
  layout->addWidget(PageControl1, 1);
  StatusBar1 = Named(new QLabel, "StatusBar1");
  StatusBar1->setFrameShape(QFrame::StyledPanel);
  layout->addWidget(StatusBar1);

  Panel3 = new ServicePanel(context_.service);
  Panel3->showStatus = [this](const QString& text) { ShowStatus(text); };
  Panel3->refreshMainWindow = [this] { RefreshMainWindow(); };
  general = Named(new GeneralPage(Panel3), "TabSheet1");
  general->onChanged = [this] { settingsChanged = true; };
  TabSheet1 = general;
  TabSheet2 = BuildChannelPage();
  TabSheet4 = BuildLayoutPage();
  TabSheet3 = BuildMobilePage();
  PageControl1->addTab(TabSheet1, QStringLiteral("General setup"));
  PageControl1->addTab(TabSheet2, QStringLiteral("Print channel settings"));
  PageControl1->addTab(TabSheet4, QStringLiteral("Print channel page layout settings (optional)"));
  PageControl1->addTab(TabSheet3, QStringLiteral("Snap-Quill system setup"));
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
    if (!pageByCode_) PageControl1Change();
  });

  // The panels that have no lookup before the first hover show their paragraph at once.
  for (TKHelp* help : {general->HelpBasicSetup, HelpBitmap, HelpSNQ})
    help->GetParagraph(help->Paragraph);

  leaveCheck_ = new QTimer(this);
  leaveCheck_->setSingleShot(true);
  leaveCheck_->setInterval(0);
  connect(leaveCheck_, &QTimer::timeout, this, [this] {
    if (leftWidget_) {
      const QString hint = HintOf(leftWidget_->parentWidget());
      if (hint != lastHint_) {
        lastHint_ = hint;
        ApplicationHint(hint);
      }
    }
  });

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

TForm1::~TForm1() {
  if (context_.kernel.settingsSource == this) context_.kernel.settingsSource = nullptr;
  if (qApp) qApp->removeEventFilter(this);
}


void TForm1::PrepareAtStart(bool settingsLoaded) {
  context_.kernel.settingsSource = this;
  FillPrinterList();
  if (settingsLoaded) {
    FillChannelGrid();
    LoadGeneralSettings();
  }
  Panel3->EDservicePath->setText(QString::fromStdString(ServiceProgram(context_.service)));
  ShowServiceState();
  if (!context_.service.isWindowsNT) Panel3->setEnabled(false);
  // The dialog's hint handler is the application's.
  qApp->removeEventFilter(this);
  qApp->installEventFilter(this);
}

void TForm1::LoadGeneralSettings() {
  C_Kernel& k = context_.kernel;
  SystemSettings settings;
  int32_t count = 0;
  {
    std::lock_guard lock(k.registryLock);
    settings = k.settings;
    count = k.channelCount;
  }
  general->LoadGeneralSettings(settings, context_.log.maxLines);
  mobile->LoadServerSettings(settings);
  if (count > 0 && editIndex < 0) {
    editIndex = 0;
    LoadChannelControls(false);
  }
  mobile->LoadClients();
}

void TForm1::ShowServiceState() {
  Panel3->ShowServiceState();
}

void TForm1::Open() {
  // The first start's pending save is not the user's: opened by hand, nothing closes it.
  settingsDirty = false;
  ShowPage(TabSheet2);
}

void TForm1::ShowPage(QWidget* page) {
  SelectPageByCode(page);
  show();
  raise();
  activateWindow();
}

void TForm1::SelectPageByCode(QWidget* page) {
  pageByCode_ = true;
  PageControl1->setCurrentWidget(page);
  pageByCode_ = false;
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Closing keeps every unsaved edit for the next opening.
  event->accept();
  hide();
}

void TForm1::PageControl1Change() {
  Panel3->EDaccountPassword->clear();
  if (scanningActive.load() != 0) {
    SelectPageByCode(TabSheet3);
    mobile->PageOpened();
    return;
  }
  sortColumn = 0;
  const bool saved = settingsChanged;
  if (saved) SaveSettings(false);
  QWidget* page = PageControl1->currentWidget();
  if (page == TabSheet2) LoadChannelControls(saved);
  if (page == TabSheet3) mobile->PageOpened();
  RefreshMainWindow();
  ShowServiceState();
}

void TForm1::SaveSettings(bool appendChannel) {
  if (main_) {
    // The dialog's channel edits live in the kernel's array: no reload may come first.
    main_->SaveSettings(appendChannel, false);
  } else {
    context_.kernel.SaveSettings(appendChannel);
  }
}

SystemSettings TForm1::ValuesToSave() const {
  SystemSettings values;
  {
    std::lock_guard lock(context_.kernel.registryLock);
    values = context_.kernel.settings;  // the window's place and boxes
  }
  general->StoreInto(values);
  mobile->StoreInto(values);
  return values;
}

void TForm1::SettingsSaved() {
  settingsChanged = false;
}

void TForm1::ShowStatus(const QString& text) {
  StatusBar1->setText(text);
  StatusBar1->repaint();  // shown before a service button blocks the window
}

void TForm1::RefreshMainWindow() {
  if (main_) main_->UpdateStateDisplay();
}

TKHelp* TForm1::ActiveHelpPanel() const {
  QWidget* page = PageControl1->currentWidget();
  if (page == TabSheet1) return general->HelpBasicSetup;
  if (page == TabSheet2) return HelpPrinters;
  if (page == TabSheet4) return HelpBitmap;
  return nullptr;
}

void TForm1::ApplicationHint(const QString& hint) {
  const std::string name = LongHint(hint.toStdString());
  if (name.empty()) return;  // no paragraph has an empty name
  if (TKHelp* help = ActiveHelpPanel()) help->GetParagraph(name);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (!watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != this) return false;  // only this dialog's fields have help
  if (event->type() == QEvent::Enter) {
    // Entering a widget right after leaving its neighbour is one change of hint, not two.
    leaveCheck_->stop();
    const QString hint = HintOf(widget);
    if (hint != lastHint_) {
      lastHint_ = hint;
      ApplicationHint(hint);
    }
  } else if (event->type() == QEvent::Leave) {
    leftWidget_ = widget;
    leaveCheck_->start();
  }
  return false;
}

}  // namespace vellumora::ui
