// TForm1: the setup dialog. Four pages (general setup, print channels, page layout, the
// Snap-Quill mobile clients), a status line, saving through the settings files, and the hover
// help that follows the mouse.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/program.h"
#include "kernel/kernel.h"
#include "kernel/print-channel.h"

namespace vellumora::ui {

class GeneralPage;
class ServicePanel;
class TForm0;
class TFormInfo;
class TFrameStartStopTime;
class TFR_Preview;
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

  int32_t editIndex = -1;           // the channel shown on the channel pages, -1 none
  PrintChannel editChannel{};       // its working copy
  PrintChannel savedChannel{};      // editChannel as loaded: any other byte is an unsaved edit
  int32_t sortColumn = 0;           // the channel grid's sort column
  bool activeToggled = false;       // the grid's Active box was clicked: the next check saves
  int32_t activeToggledIndex = -1;  // the channel it was clicked for
  bool blinkState = false;
  bool settingsDirty = false;  // set by the first start: the next change is saved, then close

  QTableWidget* PCMatrix2;
  QLineEdit* EDsourceFolder;
  QPushButton* BNdefineDir;
  QLabel* LBfolderMessage;
  // What keeps the service from using the folder, with the remedy; hidden when nothing does.
  QLabel* LBserviceFolder = nullptr;
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
  // The output's picture and the printer section (copies, spooler limit, driver settings,
  // access lamps); the channel page places it. Also wires CBprinters and the test buttons.
  QWidget* BuildPrinterSection();
  // The error panel, hidden; the channel page places it where HelpPrinters is, and it covers
  // that panel whenever an error is added.
  QWidget* BuildErrorPanel();
  // Checks the printer named in CBprinters, sets the lamps and returns the access bits
  // (1 opens, 2 listed and drawable, 4/8/16 defaults read, 32 defaults written back).
  int32_t CheckPrinterAccess();
  // Adds "code text" to the error panel and shows it.
  void ReportSetupError(int32_t code);
  // The driver panel's colours and buttons from the saved channel's driver settings.
  void RefreshSpecialDriverPanel();
  // The test buttons of the save bar: usable only without unsaved edits and while the service
  // does not run (it scans the same folders).
  void RefreshTestButtons(bool unsavedChange);
  void BNtestBMPClick(QPushButton* which);
  void CBprintersSelect();
  void CBprintersChange();
  void SHchkWinApiMouseUp();
  void BNdriverSetupClick();
  void BNclearSpecialDriverClick();
  void BNsetToNewDefaultClick();
  void BNrestoreClick();
  void BNcloseClick();

  // Runs the driver settings dialog instead of its modal loop when set (tests): returns the
  // dialog's result (QDialog::Accepted or Rejected) after working its controls.
  std::function<int(QWidget& dialog)> driverDialogHook;
  // The last printer check found the access sufficient for trying driver settings.
  bool printerAccessSufficient = true;

  QLabel* IMtarget1 = nullptr;
  QWidget* PNprinter = nullptr;
  QLabel* LBconnect = nullptr;
  QFrame* SHchkVCL = nullptr;
  QFrame* SHchkWinApi = nullptr;
  QFrame* SHchkWinApiS = nullptr;
  QFrame* PNspecialDriver = nullptr;
  QPushButton* BNdriverSetup = nullptr;
  QPushButton* BNclearSpecialDriver = nullptr;
  QPushButton* BNsetToNewDefault = nullptr;
  QPushButton* BNrestore = nullptr;
  QFrame* PNElog = nullptr;
  QTextEdit* Memo = nullptr;
  QPushButton* BNclose = nullptr;

  // --- the page layout page (setup-layout-page.cc) ------------------------------------------
  // editChannel's page layout fields into the page's controls (the channel page's load).
  void LoadLayoutControls();
  // The page's controls into editChannel's page layout fields (the channel page's store).
  void StoreLayoutControls();
  // The preview frame redrawn from the controls.
  void DrawLayoutPreview();
  // The page's dependency rules and the limits of the white borders.
  void UpdateLayoutControls();
  // Resolution, paper size and printable area from the printer into editChannel and the page.
  void ReadPrinterGeometry();
  // The printer's papers into LIpapers (at most kMaxPapers), the wanted one selected; with
  // takeCurrent the printer's current paper becomes the channel's. Returns the number listed.
  int32_t FillPaperList(const std::string& printer, bool takeCurrent);
  // Tries the typed paper size on the printer; true when the printer took it.
  bool TestPaperSizeControl();
  // (Re)starts the delayed layout update: 3 s after typing a paper size, else 1 s.
  void RestartLayoutTimer();
  void TimerUpdatePRCHTimer();
  // A pending delayed update applied now (before a save, so that what is saved is what the
  // rules make of the controls).
  void FlushLayoutUpdate();
  void LIpapersClick(int row);
  void BNgetCurrentPaperSettingsClick();
  void CBfixedPaperSizeMouseUp();
  void CBdynPaperLengthMouseUp();
  void BNfontClick();
  // "Preview with a real file": the chosen picture laid out with the shown, unsaved settings.
  void BNrealPreviewClick();

  // The font chooser (tests answer it without a dialog): the font shown in, the chosen font
  // out, or nothing when cancelled.
  std::function<std::optional<QFont>(const QFont& shown)> chooseFont;
  // The real-file preview's file chooser: start file in, chosen file out (empty: cancelled).
  std::function<QString(const QString& start)> choosePreviewFile;
  // How long the paper size test shows its result: 1 s for success, 4 s otherwise (tests
  // shorten them).
  int paperTestSuccessMs = 1000;
  int paperTestFailureMs = 4000;

  static constexpr int kMaxPapers = 100;
  int32_t dialogDpiX = 0, dialogDpiY = 0;
  int32_t paperWidthMM = 0, paperHeightMM = 0;
  int32_t widthDots = 0, heightDots = 0;
  bool paperDimsEdited = false;
  std::array<int32_t, kMaxPapers> paperIds{};
  std::array<std::string, kMaxPapers> paperMedia;  // the print server's name of each row

  QLabel* IMtarget2 = nullptr;
  QGroupBox* GBbitmap = nullptr;
  QFrame* PNscreen = nullptr;
  TFR_Preview* FRpreview = nullptr;
  QPushButton* BNrealPreview = nullptr;
  QLineEdit* EDwidthmm = nullptr;
  QLineEdit* EDheightmm = nullptr;
  QLabel* LBwidthdots = nullptr;
  QLabel* LBheightdots = nullptr;
  QLabel* LBdpiX = nullptr;
  QLabel* LBdpiY = nullptr;
  QLabel* LBprnWidthMM = nullptr;
  QLabel* LBprnHeightMM = nullptr;
  QPushButton* BNgetCurrentPaperSettings = nullptr;
  QListWidget* LIpapers = nullptr;
  QCheckBox* CBfixedPaperSize = nullptr;
  QCheckBox* CBdynPaperLength = nullptr;
  QCheckBox* CBnoRestore = nullptr;
  QLabel* LBpapercontrol = nullptr;
  QSpinBox* SEborderL = nullptr;
  QSpinBox* SEborderT = nullptr;
  QSpinBox* SEborderR = nullptr;
  QSpinBox* SEborderB = nullptr;
  QCheckBox* CBautoDetect = nullptr;
  QCheckBox* CBstretch = nullptr;
  QCheckBox* CBignoreAratio = nullptr;
  QCheckBox* CBcenter = nullptr;
  QCheckBox* CBlandscape = nullptr;
  QCheckBox* CBportrait = nullptr;
  QCheckBox* CBsetOrientation = nullptr;
  QLineEdit* EDheader = nullptr;
  std::array<QRadioButton*, 6> RBnote{};  // RBa ... RBf
  QCheckBox* CBwatermark = nullptr;
  QCheckBox* CBstretchWMhor = nullptr;
  QCheckBox* CBstretchWMvert = nullptr;
  QCheckBox* CBpdfUseDocDefaults = nullptr;
  QCheckBox* CBfitPdf = nullptr;
  QCheckBox* CBpdfThroughBitmap = nullptr;
  QCheckBox* CBpdfHighRes = nullptr;
  QLineEdit* EDstart = nullptr;
  QLineEdit* EDstop = nullptr;
  QPushButton* BNfont = nullptr;
  QLabel* LBpreview = nullptr;
  QFrame* PNtestNewSize = nullptr;
  QFrame* SHdriverAccess = nullptr;
  QLabel* LBsenddims = nullptr;
  QLabel* LBreceivedims = nullptr;
  QLabel* LBresult = nullptr;
  QTimer* TimerUpdatePRCH = nullptr;
  // The last real-file preview window (kept for the tests and the screenshots).
  QPointer<QWidget> realPreview;

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
  QWidget* BuildChannelPage();     // setup-channel-page.cc
  QWidget* BuildLayoutHeadline();  // setup-channel-page.cc
  void ShowChannelRowColours();
  int RowOfChannel(int32_t index) const;
  void SetSaveSignal(bool shown);
  // The scan loop runs (from the main window or the engine).
  bool ScanRunning() const;
  // True, saying so in the status line, while the scan loop runs.
  bool ScanningBlocksEdits();
  // Completes every half-typed time of the week ("7" becomes "07"), as leaving it would.
  void CompleteTimeEdits();
  // Where the default channels' folders go (the main window's choice, which tests set).
  std::string DefaultFolder() const;
  // Makes the missing input folder of EDsourceFolder and gives it to the service's account.
  void MakeSourceFolder();
  // LBserviceFolder for `folder`: whether the service's account may use it, and whether the
  // installed service sees it at all.
  void ShowServiceFolderLine(const std::string& folder);
  QWidget* BuildLayoutPage();  // setup-layout-page.cc
  QWidget* BuildPaperGroup();
  QWidget* BuildScalingGroup();
  QWidget* BuildNoteGroup();
  QWidget* BuildFileTypeGroups();
  void ShowPaperNumbers();
  void PaperControlMouseUp(QCheckBox* clicked, QCheckBox* other);
  // The height's edit, unit, dots and dpi, which a paper length from the picture hides.
  std::vector<QWidget*> heightControls_;
  bool loadingLayout_ = false;
  bool testingPaperSize_ = false;
  QWidget* BuildMobilePage();  // setup-mobile-page.cc
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
