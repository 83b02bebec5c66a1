// The Snap-Quill page of the setup dialog: client table, question, PINs, permissions, ports.
#include "ui/mobile-page.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QSysInfo>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "mobile/client-registry.h"
#include "mobile/snq-server.h"
#include "mobile/wire-lines.h"
#include "ui/control-hints.h"
#include "ui/help-panel.h"
#include "ui/info-window.h"

namespace vellumora::ui {

namespace {

constexpr int kCheckIntervalMs = 800;
constexpr int kChangeTickMs = 700;
constexpr int kMaxPortKeyTicks = 100;
constexpr int kPortIdleTicks = 6;
constexpr int kComputerNameLength = 15;

const QColor kOnline(192, 237, 206);
const QColor kOffline(255, 168, 168);
const QColor kSelected(62, 158, 255);
const QColor kUnselected(234, 234, 234);
const QColor kServerOn(0, 128, 0);  // colour 32768
const QColor kServerOff(255, 0, 0);  // colour 255

// A known address is at least 8 characters ("1.2.3.4" is not one).
bool Online(const QString& address) { return address.size() >= 8; }

// Arrows and the wheel stay within the port range; typed text may leave it for a while and is
// put back by the page's timer once the user stops typing.
class PortSpinBox : public QSpinBox {
 public:
  void stepBy(int steps) override {
    setValue(std::clamp(value() + steps * singleStep(), kPortAMin, kPortAMax));
  }
};

// The client table shows its selection through the cell colours alone: the style's highlight
// would hide whether the selected client is on-line.
class CellColourDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
  }
};

QTableWidgetItem* Cell(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

QString Text(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QString CellText(const QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item ? item->text() : QString();
}

QFrame* Legend(const QColor& colour, const char* text, QBoxLayout* into) {
  auto* shape = new QFrame;
  shape->setFixedSize(24, 16);
  shape->setFrameShape(QFrame::Box);
  shape->setStyleSheet(QStringLiteral("background: %1;").arg(colour.name()));
  into->addWidget(shape);
  into->addWidget(new QLabel(QString::fromLatin1(text)));
  return shape;
}

}  // namespace

MobilePage::MobilePage(C_Kernel& kernel, TKHelp* help, QWidget* parent)
    : QWidget(parent), HelpSNQ(help), kernel_(kernel) {
  setObjectName(QStringLiteral("TabSheet3"));
  auto* row = new QHBoxLayout(this);
  auto* left = new QVBoxLayout;
  row->addLayout(left, 1);
  row->addWidget(HelpSNQ);

  // The clients.
  TABclients = Named(new QTableWidget(0, 4), "TABclients");
  TABclients->setHorizontalHeaderLabels({QStringLiteral("Current IP address"),
                                         QStringLiteral("Client name"), QStringLiteral("LogIn-PIN"),
                                         QStringLiteral("Allowed print channels")});
  TABclients->setSelectionBehavior(QAbstractItemView::SelectRows);
  TABclients->setSelectionMode(QAbstractItemView::SingleSelection);
  TABclients->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TABclients->horizontalHeader()->setStretchLastSection(true);
  TABclients->setColumnWidth(kColAddress, 150);
  TABclients->setColumnWidth(kColName, 200);
  TABclients->setColumnWidth(kColPin, 90);
  TABclients->verticalHeader()->hide();
  TABclients->setItemDelegate(new CellColourDelegate(TABclients));
  left->addWidget(TABclients, 3);

  auto* legends = new QHBoxLayout;
  Legend(kOnline, "Client on-line", legends);
  Legend(kOffline, "Client off-line", legends);
  legends->addStretch(1);
  BNregisterClient = Named(new QPushButton(QStringLiteral("Send updated user settings to client")),
                           "BNregisterClient");
  BNregisterClient->setFlat(true);
  BNregisterClient->setEnabled(false);
  BNremoveClient = Named(new QPushButton(QStringLiteral("Remove client from list")), "BNremoveClient");
  BNremoveClient->setFlat(true);
  BNremoveClient->setEnabled(false);
  legends->addWidget(BNregisterClient);
  legends->addWidget(BNremoveClient);
  left->addLayout(legends);

  // The channels the selected client may use.
  PCMatrix3 = Named(new QTableWidget(0, 4), "PCMatrix3");
  PCMatrix3->setHorizontalHeaderLabels({QStringLiteral("Id"), QStringLiteral("File input folder"),
                                        QStringLiteral("Printer"), QStringLiteral("Allowed")});
  PCMatrix3->setSelectionMode(QAbstractItemView::NoSelection);
  PCMatrix3->setEditTriggers(QAbstractItemView::NoEditTriggers);
  PCMatrix3->verticalHeader()->hide();
  PCMatrix3->setColumnWidth(0, 40);
  PCMatrix3->setColumnWidth(1, 330);
  PCMatrix3->setColumnWidth(2, 220);
  PCMatrix3->horizontalHeader()->setStretchLastSection(true);
  PCMatrix3->setColumnHidden(kColAllowed, true);
  left->addWidget(PCMatrix3, 3);

  // The activity panel, the server and how a phone finds it.
  auto* bottom = new QHBoxLayout;
  MMmessages = Named(new QPlainTextEdit, "MMmessages");
  MMmessages->setReadOnly(true);
  MMmessages->setFrameShape(QFrame::NoFrame);
  MMmessages->setLineWrapMode(QPlainTextEdit::NoWrap);
  MMmessages->viewport()->installEventFilter(this);
  bottom->addWidget(MMmessages, 1);

  auto* server = new QGridLayout;
  BNsnqSwitch = Named(new QPushButton(QStringLiteral("Server")), "BNsnqSwitch");
  BNsnqSwitch->setCheckable(true);
  SetHint(BNsnqSwitch, QStringLiteral("Start/Stop server"));
  Label86 = Named(new QLabel(QStringLiteral("Server operation ON/OFF")), "Label86");
  server->addWidget(BNsnqSwitch, 0, 0);
  server->addWidget(Label86, 0, 1);
  SEportA = Named(new PortSpinBox, "SEportA");
  SEportA->setRange(0, 99999);  // out-of-range typing is put right by the timer
  SEportA->setValue(kPortADefault);
  SEportB = Named(new QSpinBox, "SEportB");
  SEportB->setRange(kPortAMin + 1, kPortAMax + 1);
  SEportB->setValue(kPortADefault + 1);
  SEportB->setEnabled(false);
  server->addWidget(new QLabel(QStringLiteral("Port A")), 1, 0);
  server->addWidget(SEportA, 1, 1);
  server->addWidget(new QLabel(QStringLiteral("Port B")), 2, 0);
  server->addWidget(SEportB, 2, 1);
  EDcomputername = Named(new QLineEdit, "EDcomputername");
  EDcomputername->setReadOnly(true);
  server->addWidget(new QLabel(QStringLiteral("Computer name")), 3, 0);
  server->addWidget(EDcomputername, 3, 1);
  auto* sentence = new QLabel(
      QStringLiteral("Enter name and port into the related settings fields of the Snap-Quill app"));
  sentence->setWordWrap(true);
  server->addWidget(sentence, 4, 0, 1, 2);
  bottom->addLayout(server);
  left->addLayout(bottom, 2);

  connect(TABclients, &QTableWidget::itemSelectionChanged, this, [this] {
    if (filling_) return;
    TABclientsSelectCell();
    ColourClients();
  });
  connect(PCMatrix3, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (!filling_ && item->column() == kColAllowed) PCMatrix3AfterEdit();
  });
  connect(MMmessages, &QPlainTextEdit::textChanged, this, [this] { MMmessagesChange(); });
  connect(SEportA, &QSpinBox::valueChanged, this, [this] {
    if (!filling_) SEportAChange();
  });
  SEportA->installEventFilter(this);
  for (QObject* child : SEportA->children())
    if (child->isWidgetType()) child->installEventFilter(this);
  connect(BNsnqSwitch, &QPushButton::clicked, this, [this] { BNsnqSwitchClick(); });
  connect(BNregisterClient, &QPushButton::clicked, this, [this] { BNregisterClientClick(); });
  connect(BNremoveClient, &QPushButton::clicked, this, [this] { BNremoveClientClick(); });

  TimerClientsCheck = new QTimer(this);
  TimerClientsCheck->setObjectName(QStringLiteral("TimerClientsCheck"));
  TimerClientsCheck->setInterval(kCheckIntervalMs);
  connect(TimerClientsCheck, &QTimer::timeout, this, [this] { TimerClientsCheckTimer(); });
  TimerClientsCheck->start();
  changeTimer_ = new QTimer(this);
  changeTimer_->setInterval(kChangeTickMs);
  connect(changeTimer_, &QTimer::timeout, this,
          [this] { portKeyTicks = std::min(portKeyTicks + 1, kMaxPortKeyTicks); });
  changeTimer_->start();

  Label86->setStyleSheet(QStringLiteral("color: %1;").arg(kServerOff.name()));
}

MobilePage::~MobilePage() { DetachServer(); }

ClientRegistry& MobilePage::Registry() {
  if (auto* server = dynamic_cast<THREAD_SNQserver*>(kernel_.server.get())) return server->registry();
  if (!ownRegistry_) ownRegistry_ = std::make_unique<ClientRegistry>(kernel_);
  return *ownRegistry_;
}

void MobilePage::AttachServer() {
  auto* server = dynamic_cast<THREAD_SNQserver*>(kernel_.server.get());
  if (!server) return;
  // Queued: the server's threads never wait for the window, and a page that is gone by the
  // time the call comes drops it.
  QPointer<MobilePage> page(this);
  server->SetObserver([page](const std::string& activity, bool clientsChanged) {
    if (!page) return;
    const QString line = Text(activity);
    QMetaObject::invokeMethod(
        page.data(), [page, line, clientsChanged] {
          if (page) page->SyncClientPage(line, clientsChanged);
        },
        Qt::QueuedConnection);
  });
}

void MobilePage::DetachServer() {
  if (auto* server = dynamic_cast<THREAD_SNQserver*>(kernel_.server.get()))
    server->SetObserver(nullptr);
}

// --- loading -----------------------------------------------------------------------------------

void MobilePage::LoadServerSettings(const SystemSettings& settings) {
  filling_ = true;
  BNsnqSwitch->setChecked(settings.Active);
  SEportA->setValue(settings.PortA);
  SEportB->setValue(settings.PortA + 1);
  filling_ = false;
  BNsnqSwitchClick();
}

void MobilePage::LoadClients() {
  FillClients();
  TABclients->clearSelection();
  TABclients->setCurrentItem(nullptr);
  ShowAllowed(false);
  ColourClients();
}

void MobilePage::PageOpened() {
  filling_ = true;
  std::vector<std::pair<std::string, std::string>> channels;
  {
    std::lock_guard lock(kernel_.registryLock);
    for (int32_t i = 0; i < kernel_.channelCount && i < static_cast<int32_t>(kernel_.channels.size());
         ++i)
      channels.emplace_back(ReadField(kernel_.channels[i].sourceFolder),
                            ReadField(kernel_.channels[i].printerName));
  }
  PCMatrix3->setRowCount(static_cast<int>(channels.size()));
  for (int i = 0; i < static_cast<int>(channels.size()); ++i) {
    PCMatrix3->setItem(i, 0, Cell(QString::number(i + 1)));
    PCMatrix3->setItem(i, 1, Cell(Text(channels[i].first)));
    PCMatrix3->setItem(i, 2, Cell(Text(channels[i].second)));
    auto* box = new QTableWidgetItem;
    box->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    box->setCheckState(Qt::Unchecked);
    PCMatrix3->setItem(i, kColAllowed, box);
  }
  filling_ = false;
  EDcomputername->setText(QSysInfo::machineHostName().left(kComputerNameLength));
}

void MobilePage::StoreInto(SystemSettings& values) const {
  const int32_t port = SEportA->value();
  if (port >= kPortAMin && port <= kPortAMax) values.PortA = port;
  values.Active = BNsnqSwitch->isChecked();
}

// --- the table ---------------------------------------------------------------------------------

void MobilePage::FillClients() {
  const std::vector<ClientRecord> clients = Registry().Snapshot();
  const int selected = SelectedRow();
  filling_ = true;
  TABclients->setRowCount(static_cast<int>(clients.size()));
  for (int i = 0; i < static_cast<int>(clients.size()); ++i) {
    const ClientRecord& c = clients[static_cast<std::size_t>(i)];
    TABclients->setItem(i, kColAddress, Cell(Text(c.address)));
    TABclients->setItem(i, kColName, Cell(Text(c.name)));
    TABclients->setItem(i, kColPin, Cell(Text(c.pin)));
    TABclients->setItem(i, kColChannels, Cell(Text(c.channels)));
  }
  if (selected >= 0 && selected < TABclients->rowCount()) TABclients->selectRow(selected);
  filling_ = false;
  ColourClients();
}

void MobilePage::ColourClients() {
  const int selected = SelectedRow();
  for (int i = 0; i < TABclients->rowCount(); ++i) {
    QTableWidgetItem* address = TABclients->item(i, kColAddress);
    if (address) address->setBackground(Online(address->text()) ? kOnline : kOffline);
    for (int column : {kColName, kColPin})
      if (QTableWidgetItem* cell = TABclients->item(i, column))
        cell->setBackground(i == selected ? kSelected : kUnselected);
  }
}

int MobilePage::SelectedRow() const {
  const QList<QTableWidgetSelectionRange> ranges = TABclients->selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

int32_t MobilePage::RegistryIndex(int row) {
  if (row < 0 || row >= TABclients->rowCount()) return -1;
  return Registry().Find(CellText(TABclients, row, kColName).toStdString());
}

void MobilePage::ShowAllowed(bool shown) { PCMatrix3->setColumnHidden(kColAllowed, !shown); }

void MobilePage::TABclientsSelectCell() { ShowAllowed(false); }

void MobilePage::SyncClientPage(const QString& activity, bool clientsChanged) {
  // Lines come from the network: one line each, shown as readable text.
  if (!activity.isEmpty()) MMmessages->appendPlainText(Text(ReadableText(activity.toStdString())));
  if (clientsChanged) FillClients();
  ShowAllowed(false);
  if (showConnectionCount)
    if (auto* server = dynamic_cast<THREAD_SNQserver*>(kernel_.server.get()))
      showConnectionCount(server->connectionCount());
}

// --- the registry ------------------------------------------------------------------------------

bool MobilePage::IssueNewPin(int row) {
  const int32_t index = RegistryIndex(row);
  if (index < 0) return false;
  if (!Registry().IssueNewPin(index)) return false;
  FillClients();
  return true;
}

void MobilePage::SaveClientLists() {
  kernel_.SaveClientLists();
  FillClients();
}

void MobilePage::BNregisterClientClick() {
  const int row = SelectedRow();
  if (row >= 0 && IssueNewPin(row)) SaveClientLists();
}

void MobilePage::BNremoveClientClick() {
  const int row = SelectedRow();
  if (row < 0) return;
  const int32_t index = RegistryIndex(row);
  if (index >= 0) Registry().Remove(index);
  TABclients->clearSelection();
  SaveClientLists();
  ShowAllowed(false);
}

void MobilePage::PCMatrix3AfterEdit() {
  const int row = SelectedRow();
  const int32_t index = RegistryIndex(row);
  if (index < 0) return;
  std::string list;
  for (int i = 0; i < PCMatrix3->rowCount(); ++i) {
    const QTableWidgetItem* box = PCMatrix3->item(i, kColAllowed);
    if (!box || box->checkState() != Qt::Checked) continue;
    if (!list.empty()) list += ',';
    list += std::to_string(i + 1);
  }
  Registry().SetChannels(index, list);
  // Only the channels file: the others did not change.
  kernel_.SaveClientChannels();
  FillClients();
}

void MobilePage::BNsnqSwitchClick() {
  const bool on = BNsnqSwitch->isChecked();
  Label86->setStyleSheet(QStringLiteral("color: %1;").arg((on ? kServerOn : kServerOff).name()));
  std::lock_guard lock(kernel_.registryLock);
  kernel_.settings.Active = on;
  kernel_.serverCommand = "ReadSettings";
}

void MobilePage::SEportAChange() {
  const int32_t port = SEportA->value();
  // A port above the range would leave no room for port B: it is not taken either.
  if (port >= kPortAMin && port <= kPortAMax) {
    bool changed;
    {
      std::lock_guard lock(kernel_.registryLock);
      changed = kernel_.settings.PortA != port;
      if (changed) kernel_.settings.PortA = port;
    }
    if (changed) SEportB->setValue(port + 1);
  }
  // A new port takes effect when the user switches the server on again.
  if (dialogVisible && dialogVisible()) {
    BNsnqSwitch->setChecked(false);
    BNsnqSwitchClick();
  }
}

void MobilePage::MMmessagesChange() {
  QTextDocument* doc = MMmessages->document();
  while (doc->blockCount() > kActivityLines) {
    QTextCursor cursor(doc->firstBlock());
    cursor.select(QTextCursor::BlockUnderCursor);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
}

void MobilePage::MMmessagesDblClick() { MMmessages->clear(); }

bool MobilePage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == MMmessages->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    MMmessagesDblClick();
    return true;
  }
  if (watched != MMmessages->viewport() && event->type() == QEvent::KeyRelease) SEportAKeyUp();
  return QWidget::eventFilter(watched, event);
}

// --- the heartbeat -----------------------------------------------------------------------------

void MobilePage::AskAboutRequests() {
  if (!info) return;
  for (int row = 0; row < TABclients->rowCount(); ++row) {
    if (info->isVisible()) return;
    if (!Online(CellText(TABclients, row, kColAddress))) continue;
    if (!CellText(TABclients, row, kColPin).contains(QStringLiteral("???"))) continue;
    const QString name = CellText(TABclients, row, kColName);
    TABclients->selectRow(row);
    QString question = name + QStringLiteral(" likes to be registered as a new Snap-Quill user. Accept?");
    // The name is the client's: markup in it is shown as text, never interpreted.
    if (Qt::mightBeRichText(question))
      question = QStringLiteral("<p>") + question.toHtmlEscaped() + QStringLiteral("</p>");
    const char answer = info->Ask(question, 0, QString(), kAskQuestion);
    // The table may have been refilled while the question waited: the row's client by name.
    const int32_t index = Registry().Find(name.toStdString());
    if (index < 0) continue;
    if (answer == kAnswerYes) {
      if (Registry().IssueNewPin(index)) SaveClientLists();
    } else if (answer == kAnswerNo) {
      Registry().Decline(index);
      SaveClientLists();
      if (showPage) showPage();
    }
  }
}

void MobilePage::TimerClientsCheckTimer() {
  if (asking_) return;
  TimerClientsCheck->stop();
  asking_ = true;
  if (Registry().DropShortNames()) SaveClientLists();
  AskAboutRequests();
  asking_ = false;

  if (pageShowing && pageShowing()) {
    const int32_t port = SEportA->value();
    if (portKeyTicks > kPortIdleTicks && (port < kPortAMin || port > kPortAMax))
      SEportA->setValue(kPortADefault);
    if (TABclients->rowCount() > 0 && SelectedRow() < 0) TABclients->selectRow(0);
    const int row = SelectedRow();
    if (row < 0) {
      BNremoveClient->setEnabled(false);
      BNregisterClient->setEnabled(false);
      ShowAllowed(false);
    } else {
      ShowAllowed(true);
      BNregisterClient->setEnabled(CellText(TABclients, row, kColAddress).size() > 7);
      BNremoveClient->setEnabled(true);
      // The boxes show exactly the selected client's channels: those of the client selected
      // before are cleared.
      std::vector<bool> allowed(static_cast<std::size_t>(PCMatrix3->rowCount()), false);
      for (int32_t n : ChannelNumbers(CellText(TABclients, row, kColChannels).toStdString()))
        if (n >= 1 && n <= PCMatrix3->rowCount()) allowed[static_cast<std::size_t>(n - 1)] = true;
      filling_ = true;
      for (int i = 0; i < PCMatrix3->rowCount(); ++i)
        if (QTableWidgetItem* box = PCMatrix3->item(i, kColAllowed))
          box->setCheckState(allowed[static_cast<std::size_t>(i)] ? Qt::Checked : Qt::Unchecked);
      filling_ = false;
    }
  } else {
    ShowAllowed(false);
  }
  TimerClientsCheck->start();
}

}  // namespace vellumora::ui
