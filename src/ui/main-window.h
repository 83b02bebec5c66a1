// TForm0: the main window of the desktop application. It shows the state, starts and stops
// scanning, follows the log, shows the CPU load, hides to the tray, runs the first start's
// questions, and previews each picture so that the operator prints or skips it.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "host/program.h"
#include "ui/desktop-engine.h"

namespace vellumora::ui {

class TForm1;
class TForm2;
class TForm3;
class TFormInfo;

// While set, the desktop's start does not start scanning on its own (cleared by a good
// settings load, set again by the first start's questions).
extern std::atomic<bool> suppressAutoStart;

// The texts and colours of the three states.
inline constexpr char kStateInactive[] = "Vellumora is inactive";
inline constexpr char kStateScanning[] = "Vellumora is running as desktop application";
inline constexpr char kStateService[] = "Vellumora is running as Windows service";

class TForm0 : public QWidget {
 public:
  TForm0(DesktopContext& context, QString shareDirectory);
  ~TForm0() override;

  // The other windows and the engine, made after this one.
  void SetPeers(DesktopEngine* engine, TForm2* about, TForm3* picture, TFormInfo* info);
  void SetSetupDialog(TForm1* setup) { setup_ = setup; }

  // From the engine (queued onto this thread).
  void ShowStatusLine(const QString& displayLine, bool replaceLast);
  void ShowPreview(const PreviewFrame& frame);
  void EndPreviewWait();
  void ClearPreview();
  void SetProcessing(bool processing);
  void ScanningEnded();

  void UpdateStateDisplay();
  // The number of connected Snap-Quill clients, as the mobile server counted them.
  void ShowSnqClients(int32_t count);
  // Brings the log view in line with the log file (at start, and while the service runs).
  void LoadLogFile();

  // The form's handlers.
  void TimerStartTimer();
  void TimerCheckChangesTimer();
  void TimerLogCheckTimer();
  void TrayIcon1Click();
  void BNminimizeClick();
  void BNquitClick();
  void BNstartStopClick();
  void BNrestartService2Click();
  void BNprintClick();
  void BNskipClick();
  void BNopenLogfileClick();
  void BNaboutClick();
  void BNsetupClick();
  // Writes the settings files: the dialog's and this window's settings, and the channels
  // (appendChannel: with the one in the spare slot as a new last channel).
  // With reloadFirst, what another program changed in the files since the last load is read
  // first and kept.
  void SaveSettings(bool appendChannel, bool reloadFirst = true);
  void PNpreviewResize();

  // The preview's state, as the window shows it.
  bool previewWaiting() const { return previewWaiting_; }
  bool startupDone() const { return startupDone_; }
  // The engine thread still runs (it may not have ended yet after scanning stopped).
  bool EngineRunning() const { return engine_ && engine_->Running(); }
  // Where the first start puts the default channels' folders (tests point it elsewhere).
  std::function<std::string()> defaultFilesFolder;
  // Set by the window tests: the log file's age is compared at this interval instead of 3 s.
  void SetLogCheckInterval(int milliseconds);

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormCloseQuery
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;  // FormResize
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void ShowPreviewPage(const PreviewFrame& frame);
  void FirstStart();
  void ApplySettingsToWindow();
  void StoreWindowSettings();
  void StartScanning();
  void SetStateLine(const QString& text, uint32_t winColor);
  void ShowWindowAgain();
  void UpdateShownFlag();
  void WaitPumping(int milliseconds);
  QString ApplicationVersionText() const;

  DesktopContext& context_;
  QString shareDirectory_;
  DesktopEngine* engine_ = nullptr;
  TForm2* about_ = nullptr;
  TForm3* picture_ = nullptr;
  TFormInfo* info_ = nullptr;
  TForm1* setup_ = nullptr;

  QSplitter* Splitter1_;
  QFrame* PNpreview_;
  QFrame* Shape2_;
  QLabel* LB1_;
  QLabel* LBchannel_;
  QLabel* LBfilename_;
  QCheckBox* CBalwaysPrint_;
  QPushButton* BNskip_;
  QPushButton* BNprint_;
  QFrame* SHsignal_;
  QLabel* IMprev_;
  QFrame* Shadow_;
  QLabel* LBmmWidth_;
  QLabel* LBmmHeight_;

  QFrame* PNmain_;
  QPushButton* BNsetup_;
  QFrame* PNtopRight_;
  QCheckBox* CBminimize_;
  QPushButton* BNminimize_;
  QPushButton* BNquit_;
  QLabel* Image1_;
  QLabel* Panel_;
  QPushButton* BNstartStop_;
  QPushButton* BNrestartService2_;
  QProgressBar* CPUbar1_;
  QLabel* LBappdir_;
  QLabel* LBappdatadir_;
  QLabel* LBsnq_clients_;
  QPushButton* BNopenLogfile_;
  QPlainTextEdit* Quittungen_;
  QFrame* PNbottom_;
  QLabel* OEMlogo_;
  QPushButton* BNabout_;

  QTimer* TimerStart_;
  QTimer* TimerCheckChanges_;
  QTimer* TimerLogCheck_;
  QTimer* signalBlink_;
  QTimer* quitWatch_;
  QSystemTrayIcon* TrayIcon1_;

  bool previewWaiting_ = false;
  uint64_t previewSequence_ = 0;
  bool processing_ = false;
  bool startupDone_ = false;
  bool quitting_ = false;
  int64_t logFileAge_ = -1;
  QString stateText_;
};

}  // namespace vellumora::ui
