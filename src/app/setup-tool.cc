// vellumora-setup: writes settings and channel definitions from the command line with the
// engine's own settings store, for scripted installs and the demo run. The desktop's setup
// dialog does the same interactively.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/service.h"
#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace {

int Usage() {
  std::fprintf(
      stderr,
      "Usage: vellumora-setup add-channel --folder DIR --printer NAME [--freq SECONDS]\n"
      "                                   [--copies N] [--archive DIR] [--allow-raw]\n"
      "                                   [--if-none] [--pdf-through-bitmaps] [--pdf-high-res]\n"
      "                                   [--pdf-no-fit] [--pdf-doc-defaults]\n"
      "Adds an active print channel, scanned all day every day, to the settings in the\n"
      "data directory (/var/lib/Vellumora/ or $VELLUMORA_COMMON_APPDATA/Vellumora/).\n"
      "--allow-raw also lets files of unknown types through as raw printer data;\n"
      "--if-none adds the channel only when no channel exists yet;\n"
      "--pdf-* set how the channel prints PDF files (see the README).\n"
      "\n"
      "       vellumora-setup service install [--account USER] [--executable PATH]\n"
      "       vellumora-setup service remove | start | stop | status\n"
      "       vellumora-setup service unit [--account USER] [--executable PATH]\n"
      "Installs, removes, starts and stops the systemd service vellumora.service, or prints\n"
      "the unit file that install would write.\n");
  return 2;
}

// A whole decimal number, or -1 (which every range check refuses) for anything else.
int Number(const std::string& text) {
  int value = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() ? value : -1;
}

// vellumora-setup service ...: the system service for servers without a window, through the
// same service object the desktop's setup dialog uses.
int ServiceCommand(int argc, char** argv) {
  using namespace vellumora;
  if (argc < 3) return Usage();
  const std::string action = argv[2];
  std::string account, executable;
  bool accountGiven = false;
  for (int i = 3; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--account" || a == "--executable") && i + 1 < argc &&
        (action == "install" || action == "unit")) {
      (a == "--account" ? account : executable) = argv[++i];
      accountGiven = accountGiven || a == "--account";
    } else {
      return Usage();
    }
  }

  C_VAZService service("Vellumora", nullptr, nullptr, true);
  auto fail = [&](const char* what) {
    std::string text = service.lastError.empty() ? std::string(what) : service.lastError;
    if (!service.lastErrorCause.empty()) text += " (" + service.lastErrorCause + ")";
    std::fprintf(stderr, "vellumora-setup: %s\n", text.c_str());
    return 1;
  };

  if (action == "install" || action == "unit") {
    // The service runs the engine, which lives beside this tool.
    if (executable.empty()) executable = ExecutableDirectory() + "/vellumora";
    service.executablePath = executable;
    // A new install runs as root unless an account is named.
    service.accountName = accountGiven ? account : std::string();
    if (action == "unit") {
      std::string error;
      const std::string text = service.UnitFileText(&error);
      if (text.empty()) {
        std::fprintf(stderr, "vellumora-setup: %s\n", error.c_str());
        return 1;
      }
      std::fputs(text.c_str(), stdout);
      return 0;
    }
    if (!FileExists(executable)) {
      std::fprintf(stderr, "vellumora-setup: %s does not exist\n", executable.c_str());
      return 1;
    }
    service.autoStart = true;
    if (!service.InstallService()) return fail("Could not create service!");
    // The data directory, shared with the print administrators' desktops.
    C_Kernel kernel;
    std::string why;
    if (!ShareDataFolder(kernel.dataDir, kDataGroup, {}, &why))
      std::fprintf(stderr, "vellumora-setup: warning: the data directory is not shared: %s\n",
                   why.c_str());
    std::printf(
        "Service successfully installed: %s (start it with: vellumora-setup service start)\n",
        service.UnitFilePath().c_str());
    return 0;
  }
  if (action == "remove") {
    if (!service.RemoveService()) return fail("Could not delete service");
    std::printf("Service successfully deleted\n");
    return 0;
  }
  if (action == "start") {
    if (!service.StartInstalledService()) return fail("Could not start service!");
    service.running = true;
    std::printf("Service is running\n");
    return 0;
  }
  if (action == "stop") {
    if (!service.StopInstalledService()) return fail("Could not stop service !");
    std::printf("Service stopped\n");
    return 0;
  }
  if (action == "status") {
    std::printf("service manager: %s\n",
                service.isWindowsNT ? "systemd" : "none (systemd is not running)");
    std::printf("installed: %s\n", service.installed ? "yes" : "no");
    std::printf("running: %s\n", service.running ? "yes" : "no");
    if (service.installed) {
      std::printf("executable: %s\n", service.executablePath.c_str());
      std::printf("account: %s\n",
                  service.accountName.empty() ? "root" : service.accountName.c_str());
    }
    std::printf("may manage the service: %s\n", service.adminRights ? "yes" : "no");
    if (!service.lastError.empty()) return fail("");
    return 0;
  }
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vellumora;
  if (argc >= 2 && std::strcmp(argv[1], "service") == 0) return ServiceCommand(argc, argv);
  if (argc < 2 || std::strcmp(argv[1], "add-channel") != 0) return Usage();
  std::string folder, printer, archive;
  int freq = 2, copies = 1;
  bool allowRaw = false, ifNone = false;
  bool pdfThroughBitmap = false, pdfHighRes = false, pdfNoFit = false, pdfDocDefaults = false;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--folder")
      folder = value();
    else if (a == "--printer")
      printer = value();
    else if (a == "--archive")
      archive = value();
    else if (a == "--freq")
      freq = Number(value());
    else if (a == "--copies")
      copies = Number(value());
    else if (a == "--allow-raw")
      allowRaw = true;
    else if (a == "--pdf-through-bitmaps")
      pdfThroughBitmap = true;
    else if (a == "--pdf-high-res")
      pdfHighRes = true;
    else if (a == "--pdf-no-fit")
      pdfNoFit = true;
    else if (a == "--pdf-doc-defaults")
      pdfDocDefaults = true;
    else if (a == "--if-none")
      ifNone = true;
    else
      return Usage();
  }
  if (folder.empty() || printer.empty() || freq < 1 || freq > 9999 || copies < 1 || copies > 100)
    return Usage();

  C_Kernel kernel;
  kernel.logCallback = [](const std::string& text, bool) {
    if (text.rfind("ERROR", 0) == 0 && text.find("Ini-file not found") == std::string::npos)
      std::fprintf(stderr, "%s\n", text.c_str());
  };
  kernel.ReadSettings(false);
  if (ifNone && kernel.channelCount > 0) {
    std::printf("%d channel(s) defined already; nothing added.\n", kernel.channelCount);
    return 0;
  }
  if (allowRaw) kernel.settings.NoRawFilePrinting = false;

  PrintChannel& c = kernel.channels.back();  // the spare slot
  c = EmptyChannel();
  WriteField(c.sourceFolder, folder);
  WriteField(c.printerName, printer);
  WriteField(c.moveDir, archive);
  c.moveFile = archive.empty() ? 0 : 1;
  c.deleteFile = archive.empty() ? 1 : 0;
  c.active = 1;
  c.freq = freq;
  c.countdown = freq;
  c.copies = copies;
  c.notePosition = 'F';
  // The printer's page, measured now as the setup dialog does: pictures that store their own
  // size are drawn at the channel's resolution. No borders: the picture area is the sheet.
  // A printer that cannot be asked now is measured when the channel first prints.
  if (printer.rfind("SCREEN", 0) != 0) {
    WatermarkBitmap watermark;
    Outputs outputs(kernel, watermark);
    PageGeometry g;
    if (outputs.ReadPrinterMetrics(printer, g)) {
      g.borderRect = g.paperRect;
      c.geometry = g;
      c.dpiX = g.dpiX;
      c.dpiY = g.dpiY;
    } else {
      std::fprintf(stderr,
                   "vellumora-setup: the page of printer %s cannot be read now; it is measured "
                   "when the channel first prints.\n",
                   printer.c_str());
    }
  }
  c.pdfThroughBitmap = pdfThroughBitmap;
  c.pdfHighRes = pdfHighRes;
  c.pdfNoFit = pdfNoFit;
  c.pdfUseDocDefaults = pdfDocDefaults;
  for (int day = 0; day < kScheduleDays; ++day) {
    std::memcpy(c.schedule[day], "00:00 00:00 ", kScheduleEntrySize);  // start = stop: all day
    c.dayActive[day] = 1;
  }
  if (!kernel.SaveSettings(true) || kernel.channelCount < 1) {
    std::fprintf(stderr, "vellumora-setup: the settings could not be written to %s\n",
                 kernel.dataDir.c_str());
    return 1;
  }
  std::printf("Channel %d: %s -> %s (settings in %s)\n", kernel.channelCount, folder.c_str(),
              printer.c_str(), kernel.dataDir.c_str());
  return 0;
}
