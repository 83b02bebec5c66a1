// The print engine's one kernel object: settings, channels and the run-time job state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/channel-file.h"
#include "kernel/client-lists.h"
#include "kernel/output-port.h"
#include "kernel/print-channel.h"
#include "kernel/print-ledger.h"
#include "kernel/service-port.h"
#include "kernel/system-settings.h"
#include "platform/clock.h"
#include "platform/cpu-load.h"
#include "platform/file-completeness.h"
#include "platform/files.h"
#include "platform/folder-watch.h"

namespace vellumora {

class C_KLog;

// Flags shared by the scan loop, the outputs and the windows. Lock-free atomics, because the
// signal handlers, the mobile server and the windows set or read them from other threads.
extern std::atomic<int32_t> stopRequested;   // asks the scan loop and every output to stop
extern std::atomic<int32_t> scanningActive;  // 1 while the scan loop runs
extern std::atomic<int32_t> kernelIdle;      // 0 while a channel's folder is being processed
// Set by SIGINT/SIGTERM: the process should end. Unlike stopRequested it is never cleared, so
// a request that arrives while scanning starts up is not lost.
extern std::atomic<int32_t> quitRequested;

// The message channel of the whole engine: one line of text; replaceLast asks the window to
// replace its last line instead of adding one.
using LogCallback = std::function<void(const std::string& text, bool replaceLast)>;

// The mobile client server thread as the kernel sees it: created with the kernel, started by
// the first settings load. Until the mobile subsystem provides one, the kernel holds none.
class ServerThread {
 public:
  virtual ~ServerThread() = default;
  virtual void Start() = 0;
  // Ends the thread; called when scanning stops without a setup dialog (service mode).
  virtual void Stop() {}
};

// The real time sources behind the kernel's injectable clock and sleep.
int64_t MonotonicMilliseconds();
void SleepMilliseconds(int32_t milliseconds);

// Where SaveSettings takes the values it writes: the setup dialog's controls once that dialog
// exists. Without one the kernel writes its own settings.
class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual SystemSettings ValuesToSave() const = 0;
  virtual void SettingsSaved() {}
};

class C_Kernel {
 public:
  // appDirectory may be empty: the current directory is used then. Never fails.
  explicit C_Kernel(std::string appDirectory = {});
  C_Kernel(const C_Kernel&) = delete;
  C_Kernel& operator=(const C_Kernel&) = delete;
  ~C_Kernel();

  // Sends one message through logCallback (nothing happens while none is installed).
  void Log(std::string_view text, bool replaceLast = false) const;

  // Loads the settings, the client lists (once per process) and the channel definitions from
  // dataDir. With onlyIfChanged only files whose time stamp changed are read. Returns 2 when
  // the channel definitions were upgraded from an older format, else 1 when the settings file
  // was read, else 0.
  int32_t ReadSettings(bool onlyIfChanged);
  // Writes the settings file and the channel definitions; with appendChannel the spare slot
  // becomes a new last channel. False when dataDir is empty or either file could not be
  // written (the failure is logged; the file on disk stays as it was).
  bool SaveSettings(bool appendChannel);
  // Writes the three client list files from the registry lists. False when one failed.
  bool SaveClientLists();
  // Writes only the channels list file (a change of permissions touches nothing else).
  bool SaveClientChannels();
  // Logs the report of the user, the printers and the access tests at start.
  void InitialSystemCheck();
  // 0 when the folder does not exist, 1 when no file can be created in it, 2 when a test file
  // was created and removed. Errors are always logged, success only when not quiet.
  // `check`, when given, receives what the scan's check found of the folder (quiet only).
  int32_t TestFolderAccess(const std::string& folder, bool quiet, FolderCheck* check = nullptr);

  // The scan loop: runs until stopRequested, quitRequested or the service's stop event, then
  // calls StopScanning. Lowers the process priority.
  void StartScanning();
  // The orderly end of scanning; called by StartScanning only.
  void StopScanning();
  // Once a second: counts every channel's interval down and scans those whose time has come,
  // yielding in between; called by StartScanning only.
  void CountDownChannels();
  // Processes channel `index`'s folder once. testMode is passed on to the dispatcher.
  void ScanChannel(int32_t index, bool testMode);
  // The channel's weekday schedule admits the current local time.
  bool InScheduleNow(int32_t index);
  // Processor load in percent since the previous call (the first call: since boot); stored in
  // cpuLoad. 0 when the counters cannot be read.
  int32_t MeasureCpuLoad();
  // Carries one found file through completeness test, output and disposal. True when the file
  // went out (jobFailed clear at the end).
  bool ProcessFile(const std::string& path, const std::string& printerName, bool testMode,
                   const std::string& name);

  // Runs the pending window messages of this thread (the pumpMessages hook; none: nothing).
  void PumpMessages();
  // Waits in 10 ms steps, pumping messages between them.
  void WaitPumping(int32_t milliseconds);

  SystemSettings settings;

  std::vector<PrintChannel> channels;  // channelCount + 1 records once loaded: a spare last slot
  int32_t channelCount = 0;
  int32_t currentChannelIndex = 0;
  PrintChannel currentChannel;
  PrintChannel
      printerDefaults;  // printerName, driverSize, driverData of the printer's own defaults
  PageGeometry printerGeometry;

  std::string appDir;      // program directory, ends in '/'
  std::string dataDir;     // data directory, ends in '/'; holds the settings, the log and Temp/
  std::string scanFolder;  // source folder of the channel being scanned, ends in '/'
  std::string statusMessage;

  int32_t jobsInSpooler = -1;
  uint64_t scansMade = 0;        // ScanChannel calls that got past the root-folder rule
  uint64_t listingsSkipped = 0;  // of those, folders known empty and untouched: not listed
  bool jobFailed = false;
  bool driverChanged = false;
  int inputHandle = -1;  // file descriptor of the input file while an output reads it
  int32_t copiesLeft = 0;
  int32_t jobStatus = 0;
  int32_t imageDpiX = 0;
  int32_t imageDpiY = 0;
  // Written by the scan loop, read by the main window's load gauge on its own thread.
  std::atomic<int32_t> cpuLoad{0};

  std::vector<std::string> clientNames;
  std::vector<std::string> clientPins;
  std::vector<std::string> clientChannels;
  std::vector<std::string> clientStates;
  // Guards the four client lists and serverCommand, and the replacement of settings and
  // channels on a reload: the mobile server's threads read them beside the kernel's thread.
  mutable std::mutex registryLock;
  // Re-reads the client list files whose time stamps changed since this process last read or
  // wrote them; a client keeps its address by name. Returns the indexes of clients whose PIN
  // became a new login PIN (accepted by another program), whose user data is now due.
  std::vector<int32_t> ReloadClientLists();

  std::unique_ptr<ServerThread> server;
  std::string serverCommand;

  // Which settings and channel-definitions files were loaded last, and in what state (all zero:
  // never loaded). Files are replaced by a rename, so a rewrite shows as another inode even
  // when it lands in the same clock tick as the write before it.
  FileIdentity iniFileAge;
  FileIdentity channelFileAge;

  LogCallback logCallback;
  C_KLog* log = nullptr;  // the log the start-up attached; it holds maxLines

  // Seams to the layers above the engine core, installed by the start-up.
  PrinterMetricsReader readPrinterMetrics;   // measures a printer's page (upgrades of old records)
  SettingsSource* settingsSource = nullptr;  // the setup dialog, once it exists
  OutputPort* output = nullptr;              // the outputs and the printer object
  WindowPort* windows = nullptr;   // the desktop windows; none in service and headless runs
  ServicePort* service = nullptr;  // the service object; none in desktop and headless runs

  // Injected time and message pumping, so tests run the scan loop without waiting. The
  // defaults are the real ones; in service and headless runs there is nothing to pump.
  LocalClock localClock = NowLocal;                              // schedules, archive names
  std::function<int64_t()> monotonicMs = MonotonicMilliseconds;  // settle times
  std::function<void(int32_t)> sleepMs = SleepMilliseconds;      // every wait of the scan loop
  // Set where no windows need their messages pumped (headless runs, the service): the loop then
  // waits for its next second in one wait that a stop cuts short, instead of ticking every
  // 100 ms. Called with the milliseconds to wait at most.
  std::function<void(int32_t)> idleWaitMs;
  std::function<void()> pumpMessages;  // the windows' message pump
  std::function<std::optional<CpuTimes>()> readCpuTimes = ReadCpuTimes;

  // Hooks of the output layer around a run of the scan loop: loading the watermark, starting
  // the PDF library and taking the printer object when scanning starts; releasing the PDF
  // library when it stops.
  std::function<void()> onScanningStarts;
  std::function<void()> onScanningStops;

  // Points on a file's way through the dispatcher, for tests that interrupt it there.
  enum class DispatchPoint {
    kJobCreated,  // a print job was created and recorded, before its data is sent
    kPrinted,     // the output finished, before the file is disposed of
  };
  std::function<void(DispatchPoint)> dispatchProbe;

  // Drops ledger entries whose file is gone or changed; cancels the jobs that the ledger knows
  // and whose transfer an earlier process never completed. Due when scanning starts.
  void PruneLedger();
  void CancelIncomingJobs();
  PrintLedger& ledger() { return ledger_; }
  // Removes what a crashed earlier run left in the folders this engine writes to (uploads
  // that never completed in the channels' input folders, PDF render folders in Temp/), only
  // files and folders older than this process; one log line says what went. Due once per
  // process, when scanning first starts.
  void SweepLeftovers();

 private:
  bool WriteSettingsFile(const std::string& name, const std::string& bytes);
  bool InServiceMode() const;
  bool StopAsked() const;
  bool DisposeOfFile(const std::string& path, const std::string& name,
                     const FileIdentity& identity);
  // The output for the file's type, with the ledger's bookkeeping around it: a file whose
  // jobs the print server already holds is not printed again.
  OutputReport PrintRecorded(int fd, const FileIdentity& identity, const std::string& path,
                             const std::string& printerName, const std::string& name,
                             bool* quietSuccess);
  void EnsureLedger();
  bool SaveLedger(bool durable);
  void ForgetPrinted(const FileIdentity& file);
  void DeleteTestFile(const std::string& path);

  CpuTimes lastCpuSample_;  // zero before the first measurement

  // Input folders found without a file to take, watched for anything that happens in them; and
  // the raw-printing setting they were judged by.

  std::unique_ptr<FolderWatch> folderWatch_;  // made by the first scan

  int32_t watchedNoRawFilePrinting_ = -1;
  CompletenessTracker inputCompleteness_;  // settle times of files on lease-less file systems
  PrintLedger ledger_;                     // printed files not yet disposed of

  bool leftoversSwept_ = false;
  bool clientListsLoaded_ = false;
  int64_t clientListAges_[3] = {0, 0, 0};
  void LoadClientListsLocked(bool onlyIfChanged, std::vector<int32_t>* accepted);
  // Writes the client list files first..end-1 (names, PINs, channels).
  bool SaveClientListFiles(int first, int end);
  TextEncoding clientListEncodings_[3] = {TextEncoding::Utf8, TextEncoding::Utf8,
                                          TextEncoding::Utf8};
};

// The group that shares the data directory with the service: the one CUPS trusts to
// administer printers.
inline constexpr char kDataGroup[] = "lpadmin";

// The system account the service runs as unless the administrator names another one.
inline constexpr char kServiceAccount[] = "vellumora";

// The ledger of printed files not yet disposed of, in the data directory.
inline constexpr char kLedgerFileName[] = "Vellumora.ledger";

// Uploads arrive under this hidden prefix and get their own name once complete; the scan
// never takes such a file, whatever the channel's types.
inline constexpr char kUploadTempPrefix[] = ".vellumora-upload-";

// The output "SCREEN": a channel whose printer name contains it shows its pictures in the
// full-screen picture window instead of printing them.
inline bool PrintsToScreen(std::string_view printerName) {
  return printerName.find("SCREEN") != std::string_view::npos;
}

// The process-wide kernel, set by the start-up for the life of the process.
extern C_Kernel* gKernel;

}  // namespace vellumora
