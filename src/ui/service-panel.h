// The setup dialog's system service panel: installs, starts, stops and removes the systemd
// unit through the service object, and says so when this user may not manage services.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

namespace vellumora {
class C_VAZService;
}

namespace vellumora::ui {

// The account text the panel installs the service for: empty (the system account, root) for
// one or two characters, else the text with the local-machine prefix ".\" it may lack.
std::string ServiceAccountName(const std::string& edited);

class ServicePanel : public QFrame {
 public:
  explicit ServicePanel(C_VAZService& service, QWidget* parent = nullptr);

  // Enables the buttons and fields from what the service object knows.
  void ShowServiceState();
  void BNinstallServiceClick();
  void BNrestartServiceClick();
  void BNremoveServiceClick();

  // Where the results go (the dialog's status bar), the main window's refresh, and the
  // page's shared change handler (the account fields count as edits).
  std::function<void(const QString&)> showStatus;
  std::function<void()> refreshMainWindow;
  std::function<void()> edited;

  QLineEdit* EDservicePath;
  QLineEdit* EDaccountName;
  QLineEdit* EDaccountPassword;
  QPushButton* BNinstallService;
  QPushButton* BNrestartService;
  QPushButton* BNremoveService;
  QFrame* Panel5;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Status(const QString& text);
  void Refresh();

  C_VAZService& service_;
};

}  // namespace vellumora::ui
