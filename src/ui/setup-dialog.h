// TForm1: the setup dialog. Four pages (general setup, print channels, page layout, the
// Snap-Quill mobile clients), a status line, saving through the settings files, and the hover
// help that follows the mouse.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "host/program.h"
#include "kernel/kernel.h"
#include "kernel/print-channel.h"

namespace vellumora::ui {

class GeneralPage;
class ServicePanel;
class TForm0;
class TFormInfo;
class TFrameStartStopTime;
class TKHelp;
class MobilePage;
class TFormInfo;

// A help panel of the dialog reading "Vellumora.htx", with its design-time paragraph.
TKHelp* HelpPanel(const char* name, const char* paragraph);

class TForm1 : public QWidget, public SettingsSource {
 public:
  TForm1(DesktopContext& context, QString shareDirectory);
  ~TForm1() override;

  void SetMainWindow(TForm0* main) { main_ = main; }


  // The main window's preparation at program start, after the settings were read
  // (`settingsLoaded`: a load succeeded).
  void PrepareAtStart(bool settingsLoaded);
  // The main window's Setup button: shows the dialog on the channel page, without blocking.
  void Open();
  // Shows the dialog in front on `page` (selected by code: no page change handling).
  void ShowPage(QWidget* page);

  void LoadGeneralSettings();
  void ShowServiceState();
  // The user selected another page.
  void PageControl1Change();
  // The dialog's hint handler: `hint` is now under the mouse.
  void ApplicationHint(const QString& hint);
  // Every status line of the kernel, and the results of the service buttons.
  void ShowStatus(const QString& text);
  // Writes the settings files from the controls (see SettingsSource) and the channels.
  void SaveSettings(bool appendChannel);

  // SettingsSource: what SaveSettings writes. Called on the window thread, where every save
  // of the desktop application runs.
  SystemSettings ValuesToSave() const override;
  void SettingsSaved() override;

  bool settingsChanged = false;

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QWidget* TabSheet4;
  QWidget* TabSheet3;
  QLabel* StatusBar1;
  GeneralPage* general;
  ServicePanel* Panel3;
  TKHelp* HelpPrinters;
  TKHelp* HelpBitmap;
  TKHelp* HelpSNQ;

  // --- the channel page and the channel editing cycle (setup-channel-page.cc) ---------------
  // Shows channels[editIndex] in the channel pages (refillGrid: rebuilds the grid first).
  void LoadChannelControls(bool refillGrid = false);
  // The controls of the channel pages into editChannel.
  void StoreChannelControls();
  void FillChannelGrid();
  void CreateNewChannel();
  void CreateFirstChannels();
  void DeleteChannel(int32_t index);
  // Asks whether channel index + 1 may go; deletes it and shows the next one when so.
  void AskDeleteChannel(int32_t index);
  static bool IsFolderEmpty(const std::string& path);
  // The printer list: "SCREEN", then the print server's queues, the default one shown.
  void FillPrinterList();

  void PCMatrix2SelectCell(int row, int column);
  void Column_ActiveChange(int row);
  void PCMatrix2KeyUp(int key);
  void PCMatrix2CellDblClick();
  void BNoverwriteChannelClick();
  void BNappendChannelClick();
  void BNcreateNewChannelClick();
  void EDsourceFolderChange();
  void BNdefineDirClick();
  void BNdefineFileArchiveClick();
  void TimerCheckChangesTimer();
  void BNchUpClick();
  void BNchDnClick();

  // The folder choosers (tests answer them without a dialog): title and start folder in, the
  // chosen folder out (empty: cancelled).
  std::function<QString(const QString& title, const QString& start)> chooseFolder;

  int32_t editIndex = -1;       // the channel shown on the channel pages, -1 none
  PrintChannel editChannel{};   // its working copy
  PrintChannel savedChannel{};  // editChannel as loaded: any other byte is an unsaved edit
  int32_t sortColumn = 0;       // the channel grid's sort column
  bool activeToggled = false;   // the grid's Active box was clicked: the next check saves
  bool blinkState = false;
  bool settingsDirty = false;   // set by the first start: the next change is saved, then close

  QTableWidget* PCMatrix2;
  QLineEdit* EDsourceFolder;
  QPushButton* BNdefineDir;
  QLabel* LBfolderMessage;
  QSpinBox* SEfreq;
  QComboBox* CBprinters;
  QSpinBox* SEcopies;
  QSpinBox* SEmaxJobsInSpooler;
  QRadioButton* RBdelete;
  QRadioButton* RBmove;
  QLineEdit* EDmoveDir;
  QPushButton* BNdefineFileArchive;
  QCheckBox* CBprintPathActive;
  QFrame* PNsave;
  QPushButton* BNcreateNewChannel;
  QPushButton* BNoverwriteChannel;
  QPushButton* BNappendChannel;
  QLabel* LBsavesignal;
  QFrame* SHsaveSignal0;
  QFrame* SHsaveSignal1;
  QPushButton* BNtestBMP;
  QPushButton* BNtestPDF;
  QPushButton* BNtestPRN;
  std::array<TFrameStartStopTime*, kScheduleDays> days{};
  // The page layout page's headline and save button, which the editing cycle drives.
  QLabel* LBchannel = nullptr;
  QPushButton* BNchUp = nullptr;
  QPushButton* BNchDn = nullptr;
  QLabel* LBinputFolder = nullptr;
  QLabel* LBprinter = nullptr;
  QPushButton* BNoverwriteChannel2 = nullptr;
  QFrame* SHsaveSignal2 = nullptr;
  QPushButton* BNtestBMP2 = nullptr;
  QTimer* TimerCheckChanges;

  // --- the printer section: access lamps, driver settings, test printouts, error panel
  // (setup-printer-section.cc) -----------------------------------------------------------
  QWidget* BuildPrinterSection();
  QWidget* BuildErrorPanel();
  int32_t CheckPrinterAccess();
  void ReportSetupError(int32_t code);
  void RefreshSpecialDriverPanel();
  void BNtestBMPClick(QPushButton* which);

  // --- the Snap-Quill mobile client page (setup-mobile-page.cc) ---------------------------
  // The information window that asks about new clients and before a channel is deleted.
  void SetInfoWindow(TFormInfo* info);
  // The page follows the kernel's mobile server from here on / no longer.
  void AttachMobileServer();
  void DetachMobileServer();
  // The main window's first start: presses the server switch.
  void SwitchServerOn();
  MobilePage* mobile;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildChannelPage();  // setup-channel-page.cc
  QWidget* BuildLayoutHeadline();  // setup-channel-page.cc
  void ShowChannelRowColours();
  int RowOfChannel(int32_t index) const;
  void SetSaveSignal(bool shown);
  // True, saying so in the status line, while the scan loop runs.
  bool ScanningBlocksEdits();
  // Where the default channels' folders go (the main window's choice, which tests set).
  std::string DefaultFolder() const;
  QWidget* BuildLayoutPage();
  QWidget* BuildMobilePage();   // setup-mobile-page.cc
  void SelectPageByCode(QWidget* page);
  TKHelp* ActiveHelpPanel() const;
  void RefreshMainWindow();

  DesktopContext& context_;
  QString shareDirectory_;
  TForm0* main_ = nullptr;
  TFormInfo* info_ = nullptr;
  bool pageByCode_ = false;
  QString lastHint_;
  QPointer<QWidget> leftWidget_;
  QTimer* leaveCheck_;
};

}  // namespace vellumora::ui
