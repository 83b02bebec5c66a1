// The setup dialog's Snap-Quill page: the mobile client table with the accept-or-decline
// question, PINs, removal and channel permissions, the activity panel, the ports and the
// server switch. The rules live in the engine's registry and server; this page shows them.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "kernel/system-settings.h"

namespace vellumora {
class C_Kernel;
class ClientRegistry;
}  // namespace vellumora

namespace vellumora::ui {

class TFormInfo;
class TKHelp;

inline constexpr int32_t kPortAMin = 15000;
inline constexpr int32_t kPortAMax = 65534;
inline constexpr int32_t kPortADefault = 51042;
inline constexpr int kActivityLines = 18;

// Columns of TABclients and PCMatrix3.
enum ClientColumn { kColAddress = 0, kColName, kColPin, kColChannels };
inline constexpr int kColAllowed = 3;

class MobilePage : public QWidget {
 public:
  MobilePage(C_Kernel& kernel, TKHelp* help, QWidget* parent = nullptr);
  ~MobilePage() override;

  // Wiring by the dialog.
  TFormInfo* info = nullptr;
  std::function<bool()> dialogVisible;          // the setup dialog shows
  std::function<bool()> pageShowing;            // ... and this page is selected
  std::function<void()> showPage;               // shows the dialog with this page selected
  std::function<void(int32_t)> showConnectionCount;  // the main window's LBsnq_clients

  // Follows the running mobile server (the kernel's); Detach before the page goes.
  void AttachServer();
  void DetachServer();

  // The settings-to-controls step: the switch and the ports (then BNsnqSwitchClick), and the
  // client table with no row selected.
  void LoadServerSettings(const SystemSettings& settings);
  void LoadClients();
  // The page was opened: the channel matrix and the computer name.
  void PageOpened();
  // PortA and Active as the controls hold them.
  void StoreInto(SystemSettings& values) const;

  // The server's step on the window thread: an activity line, and the lists when they changed.
  void SyncClientPage(const QString& activity, bool clientsChanged);

  // Gives the client of table row `row` a new PIN, which the server sends it. False when the
  // row is no client of the registry.
  bool IssueNewPin(int row);
  // Writes the three list files and shows the registry as it now is.
  void SaveClientLists();

  // The form's handlers.
  void TimerClientsCheckTimer();
  void BNregisterClientClick();
  void BNremoveClientClick();
  void BNsnqSwitchClick();
  void PCMatrix3AfterEdit();
  void SEportAChange();
  void SEportAKeyUp() { portKeyTicks = 0; }
  void MMmessagesChange();
  void MMmessagesDblClick();
  void TABclientsSelectCell();

  // The selected client row; -1 when none.
  int SelectedRow() const;

  // Change-timer ticks (700 ms) since the last key release in SEportA, up to 100.
  int32_t portKeyTicks = 0;

  QTableWidget* TABclients;
  QTableWidget* PCMatrix3;
  QPlainTextEdit* MMmessages;
  QSpinBox* SEportA;
  QSpinBox* SEportB;
  QPushButton* BNsnqSwitch;
  QLabel* Label86;
  QPushButton* BNregisterClient;
  QPushButton* BNremoveClient;
  QLineEdit* EDcomputername;
  TKHelp* HelpSNQ;
  QTimer* TimerClientsCheck;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ClientRegistry& Registry();
  // The registry index of the client of table row `row`, by name: the server may have
  // entered clients since the table was filled. -1 when it is gone.
  int32_t RegistryIndex(int row);
  void FillClients();
  void ColourClients();
  void ShowAllowed(bool shown);
  void AskAboutRequests();

  C_Kernel& kernel_;
  std::unique_ptr<ClientRegistry> ownRegistry_;  // without a running server
  QTimer* changeTimer_;
  bool filling_ = false;  // the page changes its own controls: no handler reacts
  bool asking_ = false;
};

}  // namespace vellumora::ui
