// The system service panel of the setup dialog's general page.
#include "ui/service-panel.h"

#include <QApplication>
#include <QEvent>
#include <QGridLayout>
#include <QVBoxLayout>

#include "host/service.h"
#include "ui/control-hints.h"

namespace vellumora::ui {

namespace {
constexpr char kLocalPrefix[] = ".\\";
}

std::string ServiceAccountName(const std::string& edited) {
  if (edited.size() <= 2) return {};  // the system account
  if (edited.rfind(kLocalPrefix, 0) == 0) return edited;
  return kLocalPrefix + edited;
}

ServicePanel::ServicePanel(C_VAZService& service, QWidget* parent)
    : QFrame(parent), service_(service) {
  setObjectName(QStringLiteral("Panel3"));
  setFrameShape(QFrame::StyledPanel);
  SetHint(this, QStringLiteral("#5"));
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(Named(new QLabel(QStringLiteral(" Win32 service (admin privileges needed) ")),
                         "LBserviceHead"));
  auto* row = new QHBoxLayout;
  outer->addLayout(row);
  auto* grid = new QGridLayout;
  row->addLayout(grid, 1);

  EDservicePath = Named(new QLineEdit, "EDservicePath");
  EDservicePath->setFrame(false);
  grid->addWidget(EDservicePath, 0, 0, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("Account name")), 1, 0);
  EDaccountName = Named(new QLineEdit, "EDaccountName");
  grid->addWidget(EDaccountName, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("Password")), 2, 0);
  EDaccountPassword = Named(new QLineEdit, "EDaccountPassword");
  EDaccountPassword->setEchoMode(QLineEdit::Password);
  grid->addWidget(EDaccountPassword, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("Leave empty if installing to the local system account")),
                  3, 0, 1, 3);
  auto* buttons = new QHBoxLayout;
  BNinstallService = Named(new QPushButton(QStringLiteral("Install service")), "BNinstallService");
  BNrestartService = Named(new QPushButton(QStringLiteral("&Start service")), "BNrestartService");
  BNrestartService->setEnabled(false);
  BNremoveService = Named(new QPushButton(QStringLiteral("Uninstall")), "BNremoveService");
  BNremoveService->setEnabled(false);
  for (QPushButton* b : {BNinstallService, BNrestartService, BNremoveService}) buttons->addWidget(b);
  grid->addLayout(buttons, 4, 0, 1, 3);

  Panel5 = Named(new QFrame, "Panel5");
  auto* warning = new QVBoxLayout(Panel5);
  auto* text = Named(new QLabel(QStringLiteral("Windows 32 service settings are\n"
                                               "not allowed under the current\n"
                                               "user account!\n"
                                               "Please run Vellumora as administrator.")),
                     "LBnoServiceRights");
  text->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
  warning->addWidget(text);
  Panel5->hide();
  row->addWidget(Panel5);

  connect(BNinstallService, &QPushButton::clicked, this, &ServicePanel::BNinstallServiceClick);
  connect(BNrestartService, &QPushButton::clicked, this, &ServicePanel::BNrestartServiceClick);
  connect(BNremoveService, &QPushButton::clicked, this, &ServicePanel::BNremoveServiceClick);
  EDaccountName->installEventFilter(this);
  EDaccountPassword->installEventFilter(this);
}

bool ServicePanel::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == EDaccountName || watched == EDaccountPassword) &&
      event->type() == QEvent::MouseButtonPress && edited)
    edited();
  return QFrame::eventFilter(watched, event);
}

void ServicePanel::Status(const QString& text) {
  if (showStatus) showStatus(text);
}

void ServicePanel::Refresh() {
  if (refreshMainWindow) refreshMainWindow();
}

void ServicePanel::ShowServiceState() {
  const bool installed = service_.installed;
  BNinstallService->setEnabled(!installed);
  EDaccountName->setEnabled(!installed);
  EDaccountPassword->setEnabled(!installed);
  BNremoveService->setEnabled(installed);
  BNrestartService->setEnabled(installed);
  BNrestartService->setText(QStringLiteral("&Start service"));
  if (installed) {
    // systemd names the Linux user; the panel shows it as the local account it stands for.
    const std::string& account = service_.accountName;
    EDaccountName->setText(QString::fromStdString(
        account.empty() || account.rfind(kLocalPrefix, 0) == 0 ? account : kLocalPrefix + account));
  } else {
    EDaccountName->clear();
  }
  if (service_.running) {
    BNremoveService->setEnabled(false);
    BNrestartService->setText(QStringLiteral("&Stop service"));
  }
  if (!service_.adminRights) {
    for (QWidget* w : std::initializer_list<QWidget*>{BNinstallService, BNrestartService,
                                                      BNremoveService, EDaccountName,
                                                      EDaccountPassword})
      w->setEnabled(false);
    Panel5->show();
  } else {
    Panel5->hide();
  }
}

void ServicePanel::BNinstallServiceClick() {
  service_.executablePath = EDservicePath->text().toStdString();
  service_.autoStart = true;
  const std::string account = ServiceAccountName(EDaccountName->text().toStdString());
  service_.accountName = account;
  if (!account.empty()) {
    service_.accountPassword = EDaccountPassword->text().toStdString();
    EDaccountPassword->clear();
  }
  if (service_.InstallService()) {
    Status(QStringLiteral("Service installed"));
  } else {
    // The fixed text, and why: an administrator cannot act on "Could not create service!".
    QString text = QString::fromStdString(service_.lastError);
    if (!service_.lastErrorCause.empty())
      text += QStringLiteral(" (") + QString::fromStdString(service_.lastErrorCause) +
              QStringLiteral(")");
    Status(text);
  }
  Refresh();
  ShowServiceState();
}

void ServicePanel::BNrestartServiceClick() {
  BNrestartService->setEnabled(false);
  BNremoveService->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (service_.running) {
    Status(QStringLiteral("Stopping service - please wait ..."));
    if (service_.StopInstalledService()) {
      service_.running = false;
      Status(QStringLiteral("Service stopped"));
    } else {
      Status(QStringLiteral("Stopping service failed - try again !"));
    }
  } else {
    Status(QStringLiteral("Starting service - please wait ..."));
    if (service_.StartInstalledService()) {
      service_.running = true;
      Status(QStringLiteral("Service started"));
    } else {
      Status(QStringLiteral("Starting service failed! Check access privileges"));
    }
  }
  QApplication::restoreOverrideCursor();
  Refresh();
  ShowServiceState();
}

void ServicePanel::BNremoveServiceClick() {
  service_.executablePath = EDservicePath->text().toStdString();
  if (service_.RemoveService()) {
    Status(QStringLiteral("Service removed"));
    Refresh();
  } else {
    Status(QString::fromStdString(service_.lastError));
  }
  ShowServiceState();
}

}  // namespace vellumora::ui
