// Program start-up, run modes and shutdown.
#include "host/program.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "host/journal-fields.h"
#include "host/service.h"
#include "kernel/kernel.h"
#include "kernel/klog.h"
#include "kernel/readable-text.h"
#include "kernel/status-line.h"
#include "mobile/snq-server.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "platform/accounts.h"
#include "platform/instance-lock.h"
#include "platform/service-manager.h"
#include "platform/stop-signals.h"

#ifndef VELLUMORA_VERSION
#define VELLUMORA_VERSION "0"
#endif

namespace vellumora {

std::atomic<int32_t> serviceSetupMode{0};
WatermarkBitmap* gWatermarkBitmap = nullptr;
C_VAZService* gService = nullptr;
C_KLog* gLog = nullptr;

namespace {

DesktopFace& InstalledFace() {
  static DesktopFace face;
  return face;
}

// The objects RunProgram made, for the desktop branch.
DesktopContext* gDesktopContext = nullptr;

constexpr char kProductName[] = "Vellumora";
constexpr char kInstanceLockName[] = "Vellumora.MUTEX";

// The single-instance lock of one data directory: "Vellumora.MUTEX-" and a hash of the
// directory's canonical path. Instances on different data directories (a private install, a
// test) run side by side as the same account; two spellings of one directory (through a link,
// with "..") meet at the same lock. FNV-1a, because the name must be the same in every build
// and every process, which std::hash does not promise.
std::string InstanceLockName(const std::string& dataDir) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(dataDir, ec);
  std::string text = ec || canonical.empty() ? dataDir : canonical.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(kInstanceLockName) + "-" + hex;
}

// Without windows the terminal is the window: each status line is echoed to stdout.
class ConsoleWindow final : public StatusWindow {
 public:
  void ShowLine(const std::string& displayLine, const std::string&, bool) override {
    std::fwrite(displayLine.data(), 1, displayLine.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
};

// `program` is the name the program was started by: vellumora, or vellumora-gui with windows.
void PrintUsage(const char* program) {
  const char* slash = program ? std::strrchr(program, '/') : nullptr;
  const char* name = slash ? slash + 1 : (program && *program ? program : "vellumora");
  std::printf(
      "Usage: %s [--help | --version]\n"
      "\n"
      "Unattended hot-folder printing: scans the folders of the active print channels and\n"
      "prints what appears there. Settings and the log \"Vellumora.log\" live in the data\n"
      "directory, /var/lib/Vellumora/ (or $VELLUMORA_COMMON_APPDATA/Vellumora/).\n"
      "Without a display it runs headless until SIGINT (Ctrl-C) or SIGTERM.\n",
      name);
}

// The desktop application: behind the single-instance lock of its data directory, the windows when
// a face is installed and a display exists; otherwise headless, running the scan loop as the main
// window's start would, until asked to stop.
void RunDesktop() {
  LockRefusal refusal;
  auto lock = InstanceLock::TryAcquire(InstanceLockName(gKernel->dataDir), &refusal);
  if (!lock) {
    // A second desktop instance ends here, saying why.
    if (refusal.heldElsewhere)
      gKernel->Log("ERROR Vellumora is running already (lock " + ReadableText(refusal.path) +
                   " is held)");
    else
      gKernel->Log("ERROR Vellumora cannot take its single-instance lock: " +
                   ReadableText(refusal.reason));
    return;
  }

  if (InstalledFace() && gDesktopContext && DisplayAvailable()) {
    // The windows show the lines from here on; the terminal no longer does.
    gDesktopContext->statusLine.SetWindow(nullptr);
    InstalledFace()(*gDesktopContext);
    gDesktopContext->statusLine.SetWindow(nullptr);
    return;
  }
  gKernel->ReadSettings(false);
  // What the main window's start does: scan until SIGINT/SIGTERM (quitRequested) ends the loop.
  if (quitRequested.load() == 0) gKernel->StartScanning();
}

// Each line of a service's log also goes to the journal.
void JournalLine(const std::string& text) {
  const int32_t busy = kernelIdle.load() == 0 && gKernel ? gKernel->currentChannelIndex + 1 : 0;
  const JournalFields f = JournalFieldsOf(text, busy);
  SendToJournal(f.priority, text, f.channel);
}

}  // namespace

void SetDesktopFace(DesktopFace face) {
  InstalledFace() = std::move(face);
}

bool DisplayAvailable() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
  };
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && std::strcmp(platform, "offscreen") == 0) return true;
  return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

void ControlHandler(int32_t code) {
  if (gService) gService->HandleControl(code);
}

void ServiceMain() {
  if (!gService->running && gService->dispatcherMode) {
    // Service branch, on the service thread: the engine runs until systemd's stop.
    if (!gService->RegisterHandler()) {
      gKernel->Log(gService->lastError);
      return;
    }
    if (gService->running) {
      // Root reads and deletes any file, and every print administrator chooses through the
      // shared settings which folders it takes files from.
      if (RunningAsRoot())
        gKernel->Log(
            "WARNING The service runs as root: every member of lpadmin can make it read, print "
            "and delete any file on this machine. Install it without --account to run it as " +
            std::string(kServiceAccount));
      gKernel->service = gService;
      gKernel->StartScanning();
    }
    if (gService->running) gService->ReportStatus(kServiceStopped, 0, 0, 1, 0);
    gKernel->service = nullptr;
    return;
  }
  RunDesktop();
}

int RunProgram(int argc, char** argv) {
  return RunProgram(argc, argv, C_VAZService::Environment::OfThisMachine());
}

int RunProgram(int argc, char** argv, const C_VAZService::Environment& environment) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      PrintUsage(argc > 0 ? argv[0] : nullptr);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("%s %s\n", kProductName, VELLUMORA_VERSION);
      return 0;
    }
  }
  // Ctrl-C and SIGTERM ask for an orderly stop from the very start.
  InstallStopSignals(&stopRequested, &quitRequested);

  auto watermark = std::make_unique<WatermarkBitmap>();
  gWatermarkBitmap = watermark.get();
  auto service =
      std::make_unique<C_VAZService>(kProductName, ServiceMain, ControlHandler, true, environment);
  gService = service.get();

  std::string appDirectory;
  if (service->installed) {
    std::string path = service->executablePath;
    auto slash = path.find_last_of('/');
    appDirectory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  }
  auto kernel = std::make_unique<C_Kernel>(appDirectory);
  gKernel = kernel.get();
  // Without windows the scan loop waits for its next second at once; a stop signal or the
  // service's stop control wakes it.
  kernel->idleWaitMs = WaitForStopWake;
  // The mobile client server, started by the first settings load.
  kernel->server = std::make_unique<THREAD_SNQserver>(*kernel);

  auto log = std::make_unique<C_KLog>(kernel->dataDir + "Vellumora.log");
  gLog = log.get();
  service->log = log.get();
  kernel->log = log.get();
  auto statusLine = std::make_unique<StatusLine>(log.get());
  kernel->logCallback = [sl = statusLine.get()](const std::string& text, bool replaceLast) {
    sl->Show(text, replaceLast);
  };
  // The outputs and the printer object.
  auto outputs = std::make_unique<Outputs>(*kernel, *watermark);
  kernel->output = outputs.get();
  kernel->onScanningStarts = [o = outputs.get()] {
    o->LoadWatermark();
    o->InitPdfModules();
  };
  kernel->readPrinterMetrics =
      [o = outputs.get()](const std::string& printer) -> std::optional<PageGeometry> {
    PageGeometry g;
    if (!o->ReadPrinterMetrics(printer, g)) return std::nullopt;
    return g;
  };

  // A service's lines also go to the journal, and the last one is its status in systemd. Its
  // standard output goes to the journal as well, so the terminal echo stays off, banner
  // included; otherwise, with no windows yet, the terminal shows the status lines.
  const bool startedAsService =
      service->installed && !service->running && environment.startedByManager;
  ConsoleWindow console;
  if (startedAsService)
    log->mirror = [svc = service.get()](const std::string& text) {
      JournalLine(text);
      svc->ShowStatus(text);
    };
  else
    statusLine->SetWindow(&console);

  kernel->Log(" ");
  kernel->Log(std::string(70, '='));
  kernel->Log(kProductName);
  kernel->Log(std::string(70, '='));
  kernel->Log(service->lastError.empty() ? kernel->dataDir : service->lastError);

  DesktopContext desktop{*kernel, *service, *log, *statusLine, *outputs, *watermark};
  gDesktopContext = &desktop;

  serviceSetupMode = service->running ? 1 : 0;
  bool ranAsService = false;
  if (service->installed && serviceSetupMode == 0) {
    kernel->Log("Loading program ....");
    statusLine->SetServiceMode(true);
    ranAsService = service->RunDispatcher();
    statusLine->SetServiceMode(false);
    if (!ranAsService) serviceSetupMode = 1;
  }
  if (!ranAsService) {
    if (service->installed) {
      kernel->Log("Vellumora started as desktop application for service setup");
    } else {
      kernel->Log("Vellumora startet as desktop application");
    }
    ServiceMain();
  }

  gDesktopContext = nullptr;
  // Shutdown, in order: the mobile server (its threads log), the outputs that use them, then
  // the watermark bitmap, the log, the service object, the kernel.
  kernel->server.reset();
  kernel->output = nullptr;
  kernel->onScanningStarts = nullptr;
  kernel->readPrinterMetrics = nullptr;
  outputs.reset();
  gWatermarkBitmap = nullptr;
  watermark.reset();
  kernel->logCallback = nullptr;
  kernel->log = nullptr;
  log->mirror = nullptr;
  service->log = nullptr;
  statusLine->SetWindow(nullptr);
  statusLine.reset();
  gLog = nullptr;
  log.reset();
  gService = nullptr;
  service.reset();
  gKernel = nullptr;
  kernel.reset();
  return 0;
}

}  // namespace vellumora
