// vellumora-setup: writes settings and channel definitions from the command line with the
// engine's own settings store, for scripted installs and the demo run. The desktop's setup
// dialog does the same interactively.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/service-folders.h"
#include "host/service.h"
#include "host/unit-file.h"
#include "kernel/default-channels.h"
#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "mobile/client-registry.h"
#include "mobile/snq-server.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "platform/account-access.h"
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
      "                                   [--grant] [--account USER]\n"
      "Adds an active print channel, scanned all day every day, to the settings in the\n"
      "data directory (/var/lib/Vellumora/ or $VELLUMORA_COMMON_APPDATA/Vellumora/).\n"
      "--allow-raw also lets files of unknown types through as raw printer data;\n"
      "--if-none adds the channel only when no channel exists yet;\n"
      "--pdf-* set how the channel prints PDF files (see the README);\n"
      "--grant first gives the folder to the service's account (as grant does);\n"
      "--account names that account instead of the installed service's (or vellumora).\n"
      "A warning says so when the service could not use the folder.\n"
      "\n"
      "       vellumora-setup grant FOLDER [--account USER]\n"
      "Gives USER (default vellumora) read, write and search on FOLDER through an ACL entry,\n"
      "also for the files created in it from now on and for the files waiting in it.\n"
      "\n"
      "       vellumora-setup service install [--account USER] [--executable PATH]\n"
      "       vellumora-setup service remove | start | stop | status\n"
      "       vellumora-setup service data-folder [--account USER]\n"
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
        (action == "install" || action == "unit" || action == "data-folder")) {
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
    // A new install runs as the service's own account unless another one is named.
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
  if (action == "data-folder") {
    // What the package does on installation and upgrade: the data folder of an older,
    // root-run service becomes the account's, through descriptors that follow no link.
    service.accountName = accountGiven ? account : std::string();
    if (!service.PrepareDataFolder()) return fail("The data directory was not prepared");
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
      const std::string user = ServiceUser(service.accountName);
      std::printf("account: %s\n", user.empty() ? "root" : user.c_str());
    }
    std::printf("may manage the service: %s\n", service.adminRights ? "yes" : "no");
    if (!service.lastError.empty()) return fail("");
    return 0;
  }
  return Usage();
}

// Prints what GrantFolder did; false when the folder was not granted.
bool ReportGrant(const vellumora::AccountIds& account, const std::string& folder,
                 const vellumora::GrantResult& result) {
  if (!result.granted) {
    std::fprintf(stderr, "vellumora-setup: %s is not given to %s: %s\n", folder.c_str(),
                 account.name.c_str(), result.error.c_str());
    return false;
  }
  std::printf(
      "Granted %s to %s: read, write and search, also on the files created in it from now "
      "on",
      folder.c_str(), account.name.c_str());
  if (result.filesGranted > 0)
    std::printf("; %d waiting file(s) may now be read and written by it", result.filesGranted);
  std::printf("\n");
  for (const std::string& error : result.fileErrors)
    std::fprintf(stderr, "vellumora-setup: warning: not given to %s: %s\n", account.name.c_str(),
                 error.c_str());
  return true;
}

void PrintWarnings(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    std::fprintf(stderr, "vellumora-setup: warning: %s\n", line.c_str());
}

// grant FOLDER [--account USER]: the folder, and the files waiting in it, to the service's
// account. Folders on the way are never changed: what they deny is reported with the command
// that would open them.
int GrantCommandLine(int argc, char** argv) {
  using namespace vellumora;
  std::string folder, account = kServiceAccount;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--account" && i + 1 < argc && *argv[i + 1] != '\0')
      account = argv[++i];
    else if (folder.empty() && !a.empty() && a.rfind("--", 0) != 0)
      folder = a;
    else
      return Usage();
  }
  if (folder.empty()) return Usage();
  std::string error;
  const std::optional<AccountIds> ids = LookUpAccount(account, &error);
  if (!ids) {
    std::fprintf(stderr, "vellumora-setup: %s\n", error.c_str());
    return 1;
  }
  if (ids->uid == 0) {
    std::printf("%s may use every folder; nothing to grant\n", account.c_str());
    return 0;
  }
  const GrantResult result = GrantFolder(*ids, folder);
  if (!ReportGrant(*ids, folder, result)) return 1;
  C_VAZService service("Vellumora", nullptr, nullptr, true);
  PrintWarnings(ServiceFolderWarnings(folder, account, service.installed));
  const bool reaches = CheckAccountReach(*ids, folder).reaches();
  return reaches && result.fileErrors.empty() ? 0 : 1;
}

int MobileUsage() {
  std::fprintf(
      stderr,
      "Usage: vellumora-setup clients list\n"
      "       vellumora-setup clients accept NAME [--channels 1,3]\n"
      "       vellumora-setup clients decline NAME\n"
      "       vellumora-setup clients remove NAME\n"
      "       vellumora-setup clients channels NAME 1,3\n"
      "       vellumora-setup server on|off [--port N]\n"
      "Decides the mobile clients' registration requests and sets their channels (a running\n"
      "Vellumora picks the change up within ten seconds and sends an accepted client that is\n"
      "still connected its PIN); switches the mobile server and sets its port A (15000 to\n"
      "65534; port B is port A + 1).\n");
  return 2;
}

// A kernel on the data directory with the settings, channels and client lists loaded; only
// errors reach the terminal.
void LoadForMobile(vellumora::C_Kernel& kernel) {
  kernel.logCallback = [](const std::string& text, bool) {
    if (text.rfind("ERROR", 0) == 0 && text.find("Ini-file not found") == std::string::npos)
      std::fprintf(stderr, "%s\n", text.c_str());
  };
  kernel.ReadSettings(false);
}

// A channel list "1,3" of channels that exist, or "" with a message.
bool ValidChannels(const vellumora::C_Kernel& kernel, const std::string& text, std::string* list) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const int n = Number(text.substr(start, comma - start));
    if (n < 1 || n > kernel.channelCount) {
      std::fprintf(stderr, "vellumora-setup: no print channel \"%s\" (channels 1 to %d exist)\n",
                   text.substr(start, comma - start).c_str(), kernel.channelCount);
      return false;
    }
    if (!out.empty()) out += ",";
    out += std::to_string(n);
    start = comma + 1;
  }
  *list = out;
  return true;
}

// clients list|accept|decline|remove|channels: the registry through the engine's own code.
int ClientsCommand(int argc, char** argv) {
  using namespace vellumora;
  if (argc < 3) return MobileUsage();
  const std::string verb = argv[2];
  C_Kernel kernel;
  LoadForMobile(kernel);
  ClientRegistry registry(kernel);

  if (verb == "list") {
    if (argc != 3) return MobileUsage();
    // The running server keeps the last address of every client beside the lists.
    std::string bytes;
    ReadRegularFile(kernel.dataDir + kClientAddressesFile, &bytes, nullptr, 1u << 20);
    std::printf("%-24s %-10s %-6s %-39s %s\n", "NAME", "STATE", "PIN", "ADDRESS", "CHANNELS");
    for (const ClientRecord& c : registry.Snapshot()) {
      std::string address;
      for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = bytes.substr(at, end - at);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos && SameTextIgnoringCase(line.substr(0, tab), c.name))
          address = line.substr(tab + 1);
        at = end + 2;
      }
      std::printf("%-24s %-10s %-6s %-39s %s\n", c.name.c_str(), StateName(StateOfPin(c.pin)),
                  c.pin.c_str(), address.empty() ? "-" : address.c_str(), c.channels.c_str());
    }
    return 0;
  }
  if (argc < 4) return MobileUsage();
  const std::string name = argv[3];
  const int32_t row = registry.Find(name);
  if (row < 0) {
    std::fprintf(stderr, "vellumora-setup: no mobile client \"%s\"\n", name.c_str());
    return 1;
  }
  std::string channels;
  bool ok = false;
  if (verb == "accept") {
    if (argc == 6 && std::strcmp(argv[4], "--channels") == 0) {
      if (!ValidChannels(kernel, argv[5], &channels)) return 1;
      registry.SetChannels(row, channels);
    } else if (argc != 4) {
      return MobileUsage();
    }
    ok = registry.IssueNewPin(row);
  } else if (verb == "decline" && argc == 4) {
    ok = registry.Decline(row);
  } else if (verb == "remove" && argc == 4) {
    ok = registry.Remove(row);
  } else if (verb == "channels" && argc == 5) {
    if (!ValidChannels(kernel, argv[4], &channels)) return 1;
    ok = registry.SetChannels(row, channels);
  } else {
    return MobileUsage();
  }
  if (!ok || !kernel.SaveClientLists()) {
    std::fprintf(stderr, "vellumora-setup: the client lists could not be written to %s\n",
                 kernel.dataDir.c_str());
    return 1;
  }
  if (verb == "remove") {
    std::printf("%s removed\n", name.c_str());
  } else {
    const ClientRecord c = registry.Snapshot().at(static_cast<std::size_t>(row));
    std::printf("%s: %s, PIN %s, channels %s\n", c.name.c_str(), StateName(StateOfPin(c.pin)),
                c.pin.c_str(), c.channels.empty() ? "none" : c.channels.c_str());
  }
  return 0;
}

// server on|off [--port N]: the mobile server's switch and port A in the settings file.
int ServerCommand(int argc, char** argv) {
  using namespace vellumora;
  if (argc < 3) return MobileUsage();
  const std::string state = argv[2];
  if (state != "on" && state != "off") return MobileUsage();
  int port = -1;
  if (argc == 5 && std::strcmp(argv[3], "--port") == 0) {
    port = Number(argv[4]);
    if (port < 15000 || port > 65534) return MobileUsage();
  } else if (argc != 3) {
    return MobileUsage();
  }
  C_Kernel kernel;
  LoadForMobile(kernel);
  kernel.settings.Active = state == "on";
  if (port > 0) kernel.settings.PortA = port;
  if (!kernel.SaveSettings(false)) {
    std::fprintf(stderr, "vellumora-setup: the settings could not be written to %s\n",
                 kernel.dataDir.c_str());
    return 1;
  }
  std::printf("Mobile server %s, port A %d, port B %d (settings in %s)\n", state.c_str(),
              kernel.settings.PortA, kernel.settings.PortA + 1, kernel.dataDir.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vellumora;
  if (argc >= 2 && std::strcmp(argv[1], "service") == 0) return ServiceCommand(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "clients") == 0) return ClientsCommand(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "server") == 0) return ServerCommand(argc, argv);
  if (argc >= 2 && std::strcmp(argv[1], "grant") == 0) return GrantCommandLine(argc, argv);
  if (argc < 2 || std::strcmp(argv[1], "add-channel") != 0) return Usage();
  std::string folder, printer, archive, account;
  int freq = 2, copies = 1;
  bool allowRaw = false, ifNone = false, grant = false, accountGiven = false;
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
    else if (a == "--grant")
      grant = true;
    else if (a == "--account" && i + 1 < argc && *argv[i + 1] != '\0')
      account = value();
    else
      return Usage();
    accountGiven = accountGiven || a == "--account";
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

  // The account whose access to the folder matters: the one named, else the installed
  // service's, else the service's own account where this machine has it.
  C_VAZService service("Vellumora", nullptr, nullptr, true);
  if (!accountGiven) account = FolderCheckAccount(service);
  if (grant && account.empty() && service.installed) {
    std::printf("The service runs as root and may use every folder; nothing to grant\n");
  } else if (grant) {
    std::string error;
    const std::optional<AccountIds> ids =
        LookUpAccount(account.empty() ? std::string(kServiceAccount) : account, &error);
    if (!ids) {
      std::fprintf(stderr, "vellumora-setup: %s; nothing added\n", error.c_str());
      return 1;
    }
    if (ids->uid != 0 && !ReportGrant(*ids, folder, GrantFolder(*ids, folder))) {
      std::fprintf(stderr, "vellumora-setup: nothing added\n");
      return 1;
    }
  }

  PrintChannel& c = SpareChannelSlot(kernel);
  c = NewChannelRecord(folder, printer, freq);
  WriteField(c.moveDir, archive);
  c.moveFile = archive.empty() ? 0 : 1;
  c.deleteFile = archive.empty() ? 1 : 0;
  c.copies = copies;
  // The printer's page, measured now as the setup dialog does: pictures that store their own
  // size are drawn at the channel's resolution. No borders: the picture area is the sheet.
  // A printer that cannot be asked now is measured when the channel first prints.
  if (printer.rfind("SCREEN", 0) != 0) {
    WatermarkBitmap watermark;
    Outputs outputs(kernel, watermark);
    PageGeometry g;
    if (outputs.ReadPrinterMetrics(printer, g)) {
      TakeMeasuredPage(c, g);
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
  if (!kernel.SaveSettings(true) || kernel.channelCount < 1) {
    std::fprintf(stderr, "vellumora-setup: the settings could not be written to %s\n",
                 kernel.dataDir.c_str());
    return 1;
  }
  std::printf("Channel %d: %s -> %s (settings in %s)\n", kernel.channelCount, folder.c_str(),
              printer.c_str(), kernel.dataDir.c_str());
  PrintWarnings(ServiceFolderWarnings(folder, account, service.installed));
  return 0;
}
