// The main window: state, log view, load gauge, tray, first start and the print preview.
#include "ui/main-window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QStringDecoder>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "host/service-folders.h"
#include "host/service.h"
#include "kernel/default-channels.h"
#include "kernel/kernel.h"
#include "kernel/units.h"
#include "mobile/snq-server.h"
#include "platform/printers.h"
#include "ui/about-window.h"
#include "ui/control-hints.h"
#include "ui/info-window.h"
#include "ui/picture-window.h"
#include "ui/qt-bitmap.h"
#include "ui/setup-dialog.h"

#ifndef VELLUMORA_VERSION
#define VELLUMORA_VERSION "0"
#endif
#ifndef VELLUMORA_BUILD_DATE
#define VELLUMORA_BUILD_DATE "00000000"
#endif

namespace vellumora::ui {

std::atomic<bool> suppressAutoStart{true};

namespace {

constexpr uint32_t kColourInactive = 5599231;
constexpr uint32_t kColourScanning = 7325717;
constexpr uint32_t kColourService = 14784512;
constexpr uint32_t kGaugeIdle = 6992674;
constexpr uint32_t kGaugeOverLimit = 8421631;
constexpr uint32_t kGaugeBusy = 8421504;
constexpr uint32_t kLogTextService = 16711680;

constexpr int kMainPanelMinWidth = 327;
constexpr int kClientMinHeight = 710;
constexpr int kTitleBarHeight = 35;
constexpr int kLogViewMaxLines = 1001;
// The log file is ours, but it is read whole: never more than this.
constexpr qint64 kLogFileReadLimit = 32 << 20;

QString Css(uint32_t winColour) {
  return WinColor(winColour).name();
}

// The log file's text: UTF-16LE (with or without its byte-order mark), as the log writes it.
QString ReadLogFile(const QString& path, bool* ok) {
  *ok = false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray bytes = file.read(kLogFileReadLimit);
  *ok = true;
  QStringDecoder decode(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
  QString text = decode(bytes);
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text;
}

int64_t FileAge(const QString& path) {
  QFileInfo info(path);
  if (!info.exists()) return -1;
  return info.lastModified().toMSecsSinceEpoch() ^ (info.size() << 1);
}

}  // namespace

TForm0::TForm0(DesktopContext& context, QString shareDirectory)
    : context_(context), shareDirectory_(std::move(shareDirectory)) {
  setObjectName(QStringLiteral("TForm0"));
  // No title-bar buttons: the window closes through its own quit button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setWindowTitle(QStringLiteral("Vellumora"));
  BuildControls();
  resize(1367, 862);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }

  TimerStart_ = Named(new QTimer(this), "TimerStart");
  TimerStart_->setInterval(1000);
  connect(TimerStart_, &QTimer::timeout, this, &TForm0::TimerStartTimer);
  TimerStart_->start();
  TimerCheckChanges_ = Named(new QTimer(this), "TimerCheckChanges");
  TimerCheckChanges_->setInterval(1000);
  connect(TimerCheckChanges_, &QTimer::timeout, this, &TForm0::TimerCheckChangesTimer);
  TimerCheckChanges_->start();
  TimerLogCheck_ = Named(new QTimer(this), "TimerLogCheck");
  TimerLogCheck_->setInterval(3000);
  connect(TimerLogCheck_, &QTimer::timeout, this, &TForm0::TimerLogCheckTimer);
  // The waiting signal blinks: shown and hidden every 800 ms.
  signalBlink_ = new QTimer(this);
  signalBlink_->setInterval(800);
  connect(signalBlink_, &QTimer::timeout, this,
          [this] { SHsignal_->setVisible(!SHsignal_->isVisible()); });

  // SIGINT and SIGTERM (a logout, kill) close the window as its quit button does.
  quitWatch_ = new QTimer(this);
  quitWatch_->setInterval(200);
  connect(quitWatch_, &QTimer::timeout, this, [this] {
    if (quitRequested.load() == 0 || quitting_) return;
    quitWatch_->stop();
    close();
  });
  quitWatch_->start();

  TrayIcon1_ = Named(new QSystemTrayIcon(this), "TrayIcon1");
  TrayIcon1_->setIcon(windowIcon());
  connect(TrayIcon1_, &QSystemTrayIcon::activated, this, [this] { TrayIcon1Click(); });
  UpdateStateDisplay();
}

TForm0::~TForm0() = default;

void TForm0::SetPeers(DesktopEngine* engine, TForm2* about, TForm3* picture, TFormInfo* info) {
  engine_ = engine;
  about_ = about;
  picture_ = picture;
  info_ = info;
  if (engine_) {
    engine_->alwaysPrint = CBalwaysPrint_->isChecked();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      engine_->screenWidth = screen->geometry().width();
      engine_->screenHeight = screen->geometry().height();
    }
    PNpreviewResize();
    UpdateShownFlag();
  }
}

void TForm0::BuildControls() {
  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  Splitter1_ = Named(new QSplitter(Qt::Horizontal, this), "Splitter1");
  Splitter1_->setHandleWidth(8);
  outer->addWidget(Splitter1_);

  // The preview panel: title bar, page picture, its shadow and the two dimension labels.
  PNpreview_ = Named(new QFrame, "PNpreview");
  PNpreview_->setAutoFillBackground(true);
  PNpreview_->setStyleSheet(QStringLiteral("#PNpreview { background: #5a5a5a; }"));
  PNpreview_->installEventFilter(this);
  Shape2_ = Named(new QFrame(PNpreview_), "Shape2");
  Shape2_->setStyleSheet(QStringLiteral("#Shape2 { background: #303030; }"));
  LB1_ = Named(new QLabel(QStringLiteral("Preview channel"), Shape2_), "LB1");
  LBchannel_ = Named(new QLabel(Shape2_), "LBchannel");
  LBchannel_->setAlignment(Qt::AlignCenter);
  LBfilename_ = Named(new QLabel(QStringLiteral("File Name"), Shape2_), "LBfilename");
  for (QLabel* l : {LB1_, LBchannel_, LBfilename_})
    l->setStyleSheet(QStringLiteral("color: white;"));
  SHsignal_ = Named(new QFrame(Shape2_), "SHsignal");
  SHsignal_->setStyleSheet(
      QStringLiteral("#SHsignal { background: #ffd21f; border-radius: 8px; }"));
  SHsignal_->hide();
  CBalwaysPrint_ =
      Named(new QCheckBox(QStringLiteral(" Always print file"), Shape2_), "CBalwaysPrint");
  CBalwaysPrint_->setStyleSheet(QStringLiteral("color: white;"));
  connect(CBalwaysPrint_, &QCheckBox::toggled, this, [this](bool on) {
    if (engine_) engine_->alwaysPrint = on;
  });
  BNskip_ = Named(new QPushButton(QStringLiteral("Skip file"), Shape2_), "BNskip");
  BNprint_ = Named(new QPushButton(QStringLiteral("Print"), Shape2_), "BNprint");
  BNskip_->setEnabled(false);
  BNprint_->setEnabled(false);
  connect(BNskip_, &QPushButton::clicked, this, &TForm0::BNskipClick);
  connect(BNprint_, &QPushButton::clicked, this, &TForm0::BNprintClick);
  Shadow_ = Named(new QFrame(PNpreview_), "Shadow");
  Shadow_->setStyleSheet(QStringLiteral("#Shadow { background: #404040; }"));
  IMprev_ = Named(new QLabel(PNpreview_), "IMprev");
  IMprev_->setScaledContents(false);
  LBmmWidth_ = Named(new QLabel(PNpreview_), "LBmmWidth");
  LBmmHeight_ = Named(new QLabel(PNpreview_), "LBmmHeight");
  for (QLabel* l : {LBmmWidth_, LBmmHeight_}) {
    l->setStyleSheet(QStringLiteral("color: white; background: black;"));
    l->setAlignment(Qt::AlignCenter);
    l->setFixedWidth(64);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{Shadow_, IMprev_, LBmmWidth_, LBmmHeight_})
    w->hide();
  Splitter1_->addWidget(PNpreview_);

  // The main panel on the right.
  PNmain_ = Named(new QFrame, "PNmain");
  PNmain_->setMinimumWidth(kMainPanelMinWidth);
  auto* main = new QVBoxLayout(PNmain_);
  main->setContentsMargins(8, 8, 8, 10);

  auto* top = new QHBoxLayout;
  BNsetup_ = Named(new QPushButton(QStringLiteral("Setup")), "BNsetup");
  SetHint(BNsetup_, QStringLiteral("Stop scanning before setup"));
  BNsetup_->setEnabled(false);  // until the start has loaded the settings
  BNsetup_->setFixedWidth(64);
  connect(BNsetup_, &QPushButton::clicked, this, &TForm0::BNsetupClick);
  top->addWidget(BNsetup_);
  top->addStretch();
  PNtopRight_ = Named(new QFrame, "PNtopRight");
  auto* topRight = new QHBoxLayout(PNtopRight_);
  topRight->setContentsMargins(0, 0, 0, 0);
  topRight->setSpacing(4);
  topRight->addWidget(Named(new QLabel(QStringLiteral("Always start minimized")), "Label4"));
  CBminimize_ = Named(new QCheckBox, "CBminimize");
  topRight->addWidget(CBminimize_);
  BNminimize_ = Named(new QPushButton, "BNminimize");
  BNminimize_->setIcon(style()->standardIcon(QStyle::SP_TitleBarMinButton));
  SetHint(BNminimize_, QStringLiteral("Minimize to tray"));
  connect(BNminimize_, &QPushButton::clicked, this, &TForm0::BNminimizeClick);
  topRight->addWidget(BNminimize_);
  BNquit_ = Named(new QPushButton, "BNquit");
  BNquit_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
  SetHint(BNquit_, QStringLiteral("Stop scanning before closing Vellumora"));
  connect(BNquit_, &QPushButton::clicked, this, &TForm0::BNquitClick);
  topRight->addWidget(BNquit_);
  top->addWidget(PNtopRight_);
  main->addLayout(top);

  Image1_ = Named(new QLabel, "Image1");
  Image1_->setAlignment(Qt::AlignCenter);
  Image1_->setFixedHeight(96);
  const QString logoFile = shareDirectory_ + QStringLiteral("vellumora.svg");
  const QIcon logo =
      !shareDirectory_.isEmpty() && QFile::exists(logoFile) ? QIcon(logoFile) : QIcon();
  if (!logo.isNull()) {
    Image1_->setPixmap(logo.pixmap(QSize(88, 88)));
    setWindowIcon(logo);
  }
  main->addWidget(Image1_);

  auto* shape7 = Named(new QFrame, "Shape7");
  shape7->setStyleSheet(QStringLiteral("#Shape7 { background: #e8e8e8; border-radius: 6px; }"));
  auto* state = new QVBoxLayout(shape7);
  Panel_ = Named(new QLabel, "Panel");
  Panel_->setAlignment(Qt::AlignCenter);
  Panel_->setWordWrap(true);
  Panel_->setMinimumHeight(34);
  state->addWidget(Panel_);
  auto* buttons = new QHBoxLayout;
  BNstartStop_ = Named(new QPushButton(QStringLiteral("Start scanning")), "BNstartStop");
  connect(BNstartStop_, &QPushButton::clicked, this, &TForm0::BNstartStopClick);
  BNrestartService2_ =
      Named(new QPushButton(QStringLiteral("Start Win Service")), "BNrestartService2");
  connect(BNrestartService2_, &QPushButton::clicked, this, &TForm0::BNrestartService2Click);
  buttons->addWidget(BNstartStop_);
  buttons->addWidget(BNrestartService2_);
  state->addLayout(buttons);
  state->addWidget(Named(new QLabel(QStringLiteral("CPU load")), "Label66"));
  CPUbar1_ = Named(new QProgressBar, "CPUbar1");
  CPUbar1_->setRange(0, 100);
  CPUbar1_->setValue(0);
  CPUbar1_->setTextVisible(false);
  CPUbar1_->setFixedHeight(14);
  state->addWidget(CPUbar1_);
  main->addWidget(shape7);

  auto addInfo = [&](const char* labelName, const char* caption, QLabel*& value,
                     const char* valueName) {
    main->addWidget(Named(new QLabel(QString::fromLatin1(caption)), labelName));
    value = Named(new QLabel, valueName);
    value->setAlignment(Qt::AlignRight);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    main->addWidget(value);
  };
  addInfo("Label1", "Application directory", LBappdir_, "LBappdir");
  addInfo("Label2", "Data directory", LBappdatadir_, "LBappdatadir");
  addInfo("Label3", "Connected Snap-Quill clients", LBsnq_clients_, "LBsnq_clients");
  LBsnq_clients_->setText(QStringLiteral("0"));

  BNopenLogfile_ = Named(new QPushButton(QStringLiteral("Open log file")), "BNopenLogfile");
  BNopenLogfile_->setFlat(true);
  connect(BNopenLogfile_, &QPushButton::clicked, this, &TForm0::BNopenLogfileClick);
  main->addWidget(BNopenLogfile_, 0, Qt::AlignRight);

  Quittungen_ = Named(new QPlainTextEdit, "Quittungen");
  Quittungen_->setReadOnly(true);
  Quittungen_->setLineWrapMode(QPlainTextEdit::NoWrap);
  Quittungen_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Once the view holds 1001 lines, each new one removes the oldest.
  Quittungen_->setMaximumBlockCount(kLogViewMaxLines);
  main->addWidget(Quittungen_, 1);

  PNbottom_ = Named(new QFrame, "PNbottom");
  PNbottom_->setFixedHeight(56);
  auto* bottom = new QHBoxLayout(PNbottom_);
  OEMlogo_ = Named(new QLabel, "OEMlogo");
  OEMlogo_->hide();
  bottom->addWidget(OEMlogo_);
  bottom->addStretch();
  BNabout_ = Named(new QPushButton(QStringLiteral("About")), "BNabout");
  connect(BNabout_, &QPushButton::clicked, this, &TForm0::BNaboutClick);
  bottom->addWidget(BNabout_);
  main->addWidget(PNbottom_);

  Splitter1_->addWidget(PNmain_);
  Splitter1_->setStretchFactor(0, 1);
  Splitter1_->setStretchFactor(1, 0);
  Splitter1_->setSizes({1367 - kMainPanelMinWidth - 8, kMainPanelMinWidth});
  setMinimumHeight(kClientMinHeight);
}

QString TForm0::ApplicationVersionText() const {
  return QStringLiteral(VELLUMORA_VERSION " " VELLUMORA_BUILD_DATE);
}

void TForm0::SetLogCheckInterval(int milliseconds) {
  TimerLogCheck_->setInterval(milliseconds);
}

void TForm0::WaitPumping(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// --- start ---------------------------------------------------------------------------------

void TForm0::TimerStartTimer() {
  if (about_ == nullptr || info_ == nullptr || picture_ == nullptr || startupDone_) return;
  TimerStart_->stop();
  C_Kernel& k = context_.kernel;

  LoadLogFile();

  const int32_t read = k.ReadSettings(false);
  if (read > 0) {
    LBappdir_->setText(QString::fromStdString(k.appDir));
    LBappdatadir_->setText(QString::fromStdString(k.dataDir));
    ApplySettingsToWindow();
    suppressAutoStart = false;
  }

  setWindowTitle(QStringLiteral("Vellumora ") + ApplicationVersionText());
  about_->SetProduct(QStringLiteral("Vellumora"), ApplicationVersionText());

  if (setup_) setup_->PrepareAtStart(read > 0);

  // Every desktop start rewrites the settings and the channel definitions once.
  k.SaveSettings(false);

  if (read <= 0 || k.channelCount == 0) {
    FirstStart();
    if (setup_) {
      setup_->FillChannelGrid();
      setup_->LoadGeneralSettings();
    }
  }

  UpdateStateDisplay();

  if (QFile::exists(QStringLiteral("OEMlogo.bmp"))) {
    QPixmap oem(QStringLiteral("OEMlogo.bmp"));
    if (!oem.isNull()) {
      OEMlogo_->setPixmap(oem.scaledToWidth(275, Qt::SmoothTransformation));
      OEMlogo_->setFixedWidth(275);
      OEMlogo_->show();
      PNbottom_->setFixedHeight(180);
    }
  }

  TrayIcon1_->hide();
  startupDone_ = true;
  UpdateStateDisplay();
  if (CBminimize_->isChecked()) BNminimizeClick();

  if (context_.service.running && serviceSetupMode.load() == 1) {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Please note..."),
                                QStringLiteral("Vellumora is already running as Win32 service on "
                                               "this computer - You may change settings here. "
                                               "Restart the service to import new settings !"),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("ServiceRunningNote"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  } else if (k.channelCount > 0 && !context_.service.installed && !suppressAutoStart.load()) {
    StartScanning();
  }
}

void TForm0::ApplySettingsToWindow() {
  const SystemSettings& s = context_.kernel.settings;
  if (s.WindowWidth > 0 && s.WindowHeight > 0) {
    move(s.WindowXPos, s.WindowYPos);
    resize(std::max(s.WindowWidth, kMainPanelMinWidth + 200),
           std::max(s.WindowHeight, kClientMinHeight));
  }
  const int mainWidth = std::max(s.MainPanelWidth, kMainPanelMinWidth);
  Splitter1_->setSizes({std::max(0, width() - mainWidth - Splitter1_->handleWidth()), mainWidth});
  CBminimize_->setChecked(s.StartMinimized);
  CBalwaysPrint_->setChecked(s.AlwaysPrint);
}

void TForm0::StoreWindowSettings() {
  SystemSettings& s = context_.kernel.settings;
  const QRect g = geometry();
  s.WindowXPos = g.x();
  s.WindowYPos = g.y();
  s.WindowWidth = g.width();
  s.WindowHeight = g.height();
  s.MainPanelWidth = PNmain_->width();
  s.StartMinimized = CBminimize_->isChecked();
  s.AlwaysPrint = CBalwaysPrint_->isChecked();
}

void TForm0::SaveSettings(bool appendChannel, bool reloadFirst) {
  // Never while the engine runs: it may be reloading the same settings.
  if (engine_ && engine_->Running()) return;
  // What another program (vellumora-setup) changed since the last load is kept. Not before
  // an append: the reload would drop the channel waiting in the spare slot.
  if (reloadFirst && !appendChannel) context_.kernel.ReadSettings(true);
  {
    std::lock_guard lock(context_.kernel.registryLock);
    StoreWindowSettings();
  }
  context_.kernel.SaveSettings(appendChannel);
}

void TForm0::FirstStart() {
  C_Kernel& k = context_.kernel;
  const std::string base = defaultFilesFolder ? defaultFilesFolder() : DefaultFilesFolder();
  const QString baseText = QString::fromStdString(base);
  if (setup_) setup_->ShowPage(setup_->TabSheet2);
  const char answer = info_->Ask(
      QStringLiteral("Welcome to Vellumora! Do you allow me to create your first 2 default print "
                     "channels?"),
      0,
      QStringLiteral("Vellumora will create 2 print channels between 2 new file folders in ") +
          baseText + QStringLiteral(" and your Windows default printer or your desktop screen"),
      kAskQuestion);
  if (answer == kAnswerYes) {
    CreateFirstChannels(k, base, printers::DefaultName(), FolderCheckAccount(context_.service));
    if (setup_) {
      setup_->FillChannelGrid();
      setup_->editIndex = k.channelCount - 1;
      setup_->LoadChannelControls(true);
      setup_->ShowPage(setup_->TabSheet4);
    }
    WaitPumping(1000);
  }
  if (setup_) setup_->ShowPage(setup_->TabSheet3);
  const char server = info_->Ask(
      QStringLiteral("Snap-Quill: Would you like to connect Android devices to one ore more print "
                     "channels?"),
      0,
      QStringLiteral("Vellumora starts listening on IP-Port 51042. Confirm Windows pop-up message "
                     "to allow Vellumora using this local port to connect your Android device"),
      kAskQuestion);
  if (server == kAnswerYes) {
    // The dialog's switch is what a save writes as the server's state.
    if (setup_) {
      setup_->SwitchServerOn();
    } else {
      std::lock_guard lock(k.registryLock);
      k.settings.Active = true;
      k.serverCommand = "ReadSettings";
    }
    k.SaveSettings(false);
    WaitPumping(1000);
  }
  k.SaveSettings(false);
  suppressAutoStart = true;
  if (setup_) {
    // The dialog saves the channel shown at its next detected change, and closes again.
    setup_->ShowPage(setup_->TabSheet2);
    setup_->settingsDirty = true;
    setup_->close();
  }
}

// --- state -----------------------------------------------------------------------------------

void TForm0::SetStateLine(const QString& text, uint32_t winColor) {
  stateText_ = text;
  Panel_->setText(text);
  Panel_->setStyleSheet(
      QStringLiteral("#Panel { background: %1; color: white; font-weight: bold; }")
          .arg(Css(winColor)));
  TrayIcon1_->setToolTip(text);
  setToolTip(QString());
}

void TForm0::UpdateStateDisplay() {
  const C_VAZService& service = context_.service;
  if (scanningActive.load() != 0) {
    BNstartStop_->setText(QStringLiteral("Stop scanning"));
    SetStateLine(QString::fromLatin1(kStateScanning), kColourScanning);
    BNquit_->setEnabled(false);
    BNsetup_->setEnabled(false);
  } else {
    BNstartStop_->setText(QStringLiteral("Start scanning"));
    SetStateLine(QString::fromLatin1(kStateInactive), kColourInactive);
    // Until the start has loaded the settings (and asked its first-start questions) the
    // channels are not ready to scan, nor the settings to be saved.
    BNquit_->setEnabled(startupDone_);
    BNsetup_->setEnabled(startupDone_ && setup_ != nullptr);
  }
  BNrestartService2_->setVisible(service.installed);
  if (service.installed) BNrestartService2_->setText(QStringLiteral("Start Win Service"));
  if (service.running) {
    BNstartStop_->setEnabled(false);
    BNrestartService2_->setText(QStringLiteral("Stop Win Service"));
    SetStateLine(QString::fromLatin1(kStateService), kColourService);
    if (!TimerLogCheck_->isActive()) TimerLogCheck_->start();
    BNquit_->setEnabled(startupDone_);
    Quittungen_->setStyleSheet(QStringLiteral("color: %1;").arg(Css(kLogTextService)));
  } else {
    TimerLogCheck_->stop();
    BNstartStop_->setEnabled(startupDone_ && !processing_ && !previewWaiting_);
    Quittungen_->setStyleSheet(QStringLiteral("color: black;"));
  }
  if (!service.adminRights) BNrestartService2_->hide();
}

void TForm0::ShowStatusLine(const QString& displayLine, bool replaceLast) {
  if (setup_) setup_->ShowStatus(displayLine);
  // While the service runs, the view follows its log file instead.
  if (context_.service.running || context_.service.dispatcherMode) return;
  QTextDocument* doc = Quittungen_->document();
  if (replaceLast) {
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.removeSelectedText();
  }
  if (doc->isEmpty())
    Quittungen_->setPlainText(displayLine);
  else
    Quittungen_->appendPlainText(displayLine);
  Quittungen_->verticalScrollBar()->setValue(Quittungen_->verticalScrollBar()->maximum());
  UpdateStateDisplay();
}

void TForm0::LoadLogFile() {
  const QString path = QString::fromStdString(context_.kernel.dataDir + "Vellumora.log");
  bool ok = false;
  const QString text = ReadLogFile(path, &ok);
  if (!ok) return;
  Quittungen_->setPlainText(text);
  Quittungen_->verticalScrollBar()->setValue(Quittungen_->verticalScrollBar()->maximum());
  logFileAge_ = FileAge(path);
}

void TForm0::TimerLogCheckTimer() {
  const QString path = QString::fromStdString(context_.kernel.dataDir + "Vellumora.log");
  const int64_t age = FileAge(path);
  if (age < 0 || age == logFileAge_) return;
  LoadLogFile();
  logFileAge_ = age;
}

void TForm0::TimerCheckChangesTimer() {
  C_Kernel& k = context_.kernel;
  const bool engineBusy = engine_ && engine_->Running();
  if (!engineBusy && scanningActive.load() == 0) k.MeasureCpuLoad();
  const int32_t load = std::clamp(k.cpuLoad.load(), 0, 100);
  CPUbar1_->setValue(load);
  int32_t limit;
  {
    std::lock_guard lock(k.registryLock);
    limit = k.settings.MaxCPUload;
  }
  const uint32_t colour =
      kernelIdle.load() != 0 ? (load < limit ? kGaugeIdle : kGaugeOverLimit) : kGaugeBusy;
  CPUbar1_->setStyleSheet(
      QStringLiteral("QProgressBar::chunk { background: %1; }").arg(Css(colour)));
  if (auto* server = dynamic_cast<THREAD_SNQserver*>(k.server.get()))
    ShowSnqClients(server->connectionCount());
}

void TForm0::ShowSnqClients(int32_t count) {
  LBsnq_clients_->setText(QString::number(count));
}

// --- scanning --------------------------------------------------------------------------------

void TForm0::StartScanning() {
  if (!startupDone_ || engine_ == nullptr || engine_->Running()) return;
  engine_->Start();
  UpdateStateDisplay();
}

void TForm0::ScanningEnded() {
  if (engine_) engine_->Join();
  processing_ = false;
  UpdateStateDisplay();
  if (quitting_ || quitRequested.load() != 0) {
    quitting_ = false;
    close();
  }
}

void TForm0::SetProcessing(bool processing) {
  processing_ = processing;
  BNstartStop_->setEnabled(!processing && !previewWaiting_ && !context_.service.running);
}

void TForm0::BNstartStopClick() {
  if (scanningActive.load() != 0 || (engine_ && engine_->Running())) {
    if (engine_) engine_->RequestStop();
  } else {
    StartScanning();
  }
  UpdateStateDisplay();
}

void TForm0::BNrestartService2Click() {
  C_VAZService& service = context_.service;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool ok =
      service.running ? service.StopInstalledService() : service.StartInstalledService();
  QApplication::restoreOverrideCursor();
  if (!ok && !service.lastError.empty()) context_.kernel.Log(service.lastError);
  if (!service.running) LoadLogFile();
  UpdateStateDisplay();
}

// --- preview ---------------------------------------------------------------------------------

void TForm0::ShowPreview(const PreviewFrame& frame) {
  ClearPreview();
  // A page that could not be drawn (no size yet) still asks for the decision.
  if (!frame.page.isNull()) ShowPreviewPage(frame);
  if (frame.awaitDecision) {
    previewWaiting_ = true;
    previewSequence_ = frame.sequence;
    BNprint_->setEnabled(true);
    BNskip_->setEnabled(true);
    BNstartStop_->setEnabled(false);
    SHsignal_->show();
    signalBlink_->start();
  }
}

void TForm0::ShowPreviewPage(const PreviewFrame& frame) {
  const int width = frame.page.width();
  const int height = frame.page.height();
  constexpr int left = 9, top = 44;
  IMprev_->setGeometry(left, top, width, height);
  IMprev_->setPixmap(QPixmap::fromImage(frame.page));
  Shadow_->setGeometry(left + 4, top + 4, width, height);
  LBchannel_->setText(QString::number(frame.channelNumber));
  LBfilename_->setText(frame.fileName);
  LBmmWidth_->setText(QStringLiteral(" %1 mm ").arg(DotsToMm(frame.pageWidth, frame.dpi)));
  LBmmHeight_->setText(QStringLiteral(" %1 mm ").arg(DotsToMm(frame.pageHeight, frame.dpi)));
  LBmmWidth_->adjustSize();
  LBmmHeight_->adjustSize();
  LBmmWidth_->move(left + width / 2 - LBmmWidth_->width() / 2, top);
  LBmmHeight_->move(left + width - LBmmHeight_->width(),
                    top + height / 2 - LBmmHeight_->height() / 2);
  Shadow_->show();
  IMprev_->show();
  LBmmWidth_->show();
  LBmmHeight_->show();
  Shadow_->lower();
  IMprev_->raise();
  LBmmWidth_->raise();
  LBmmHeight_->raise();
}

void TForm0::EndPreviewWait() {
  previewWaiting_ = false;
  BNprint_->setEnabled(false);
  BNskip_->setEnabled(false);
  signalBlink_->stop();
  SHsignal_->hide();
  BNstartStop_->setEnabled(!processing_ && !context_.service.running);
}

void TForm0::ClearPreview() {
  LBmmWidth_->hide();
  LBmmHeight_->hide();
  Shadow_->hide();
  IMprev_->hide();
  IMprev_->clear();
  LBfilename_->clear();
}

void TForm0::BNprintClick() {
  if (!previewWaiting_) return;
  signalBlink_->stop();
  SHsignal_->hide();
  if (engine_) engine_->Decide(previewSequence_, 2);
}

void TForm0::BNskipClick() {
  if (!previewWaiting_) return;
  signalBlink_->stop();
  SHsignal_->hide();
  if (engine_) engine_->Decide(previewSequence_, 0);
}

// --- window ----------------------------------------------------------------------------------

void TForm0::BNminimizeClick() {
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    TrayIcon1_->show();
    hide();
  } else {
    // Desktops without a tray (plain GNOME): the window is minimised instead.
    showMinimized();
  }
  UpdateShownFlag();
}

void TForm0::TrayIcon1Click() {
  ShowWindowAgain();
}

void TForm0::ShowWindowAgain() {
  show();
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  TrayIcon1_->hide();
  UpdateShownFlag();
}

void TForm0::BNquitClick() {
  if (engine_ && engine_->Running()) return;  // disabled while scanning
  close();
}

void TForm0::closeEvent(QCloseEvent* event) {
  // A running engine is stopped first; the window closes once it has ended, so nothing it
  // is printing is cut off by the settings being saved beneath it.
  if (engine_ && engine_->Running()) {
    quitting_ = true;
    engine_->RequestStop();
    event->ignore();
    return;
  }
  if (!startupDone_ && quitRequested.load() == 0) {
    event->ignore();  // the start is still asking its questions
    return;
  }
  if (info_) info_->hide();  // a question still waiting ends unanswered
  if (startupDone_) SaveSettings(false);
  TrayIcon1_->hide();
  if (picture_) picture_->hide();
  if (about_) about_->hide();
  if (setup_) setup_->hide();
  event->accept();
  QApplication::quit();
}

void TForm0::BNopenLogfileClick() {
  QDesktopServices::openUrl(
      QUrl::fromLocalFile(QString::fromStdString(context_.kernel.dataDir + "Vellumora.log")));
}

void TForm0::BNsetupClick() {
  if (setup_ == nullptr || scanningActive.load() != 0 || !startupDone_) return;
  setup_->Open();
}

void TForm0::BNaboutClick() {
  if (about_) {
    about_->show();
    about_->raise();
  }
}

void TForm0::UpdateShownFlag() {
  if (engine_) engine_->windowShown = isVisible() && !isMinimized();
}

void TForm0::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  UpdateShownFlag();
}

void TForm0::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  UpdateShownFlag();
}

void TForm0::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) UpdateShownFlag();
}

void TForm0::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PNpreviewResize();
}

bool TForm0::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PNpreview_ && event->type() == QEvent::Resize) PNpreviewResize();
  return QWidget::eventFilter(watched, event);
}

void TForm0::PNpreviewResize() {
  const int w = PNpreview_->width();
  Shape2_->setGeometry(0, 0, w, kTitleBarHeight);
  LB1_->setGeometry(8, 0, 110, kTitleBarHeight);
  LBchannel_->setGeometry(118, 0, 30, kTitleBarHeight);
  BNprint_->setGeometry(w - 4 - 80, 5, 80, 25);
  BNskip_->setGeometry(BNprint_->x() - 1 - 80, 5, 80, 25);
  SHsignal_->setGeometry(BNskip_->x() - 3, 2, 80 + 1 + 80 + 3 + 3, 31);
  SHsignal_->lower();
  const int checkWidth = CBalwaysPrint_->sizeHint().width();
  CBalwaysPrint_->setGeometry(BNskip_->x() - 5 - checkWidth - 3, 5, checkWidth, 25);
  LBfilename_->setGeometry(152, 0, std::max(0, CBalwaysPrint_->x() - 160), kTitleBarHeight);
  if (engine_) {
    engine_->previewPanelWidth = w;
    engine_->previewPanelHeight = PNpreview_->height();
  }
}

}  // namespace vellumora::ui
