// The unit file text, the account rule and the reader for installed units.
#include "host/unit-file.h"

#include <string_view>

#include "kernel/kernel.h"

namespace vellumora {

namespace {

bool HasControlCharacter(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f) return true;
  return false;
}

// ExecStart's program as one quoted word: systemd unquotes C-style escapes, and expands
// specifiers (%) and variables ($) even in quotes, so those are doubled.
std::string QuotedProgram(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '\\' || c == '"')
      out += '\\';
    else if (c == '%' || c == '$')
      out += c;
    out += c;
  }
  return out + "\"";
}

// The first word of an ExecStart= value, with the quoting of QuotedProgram undone.
std::string UnquotedProgram(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  // Prefixes such as '-' or '@' change how the program is run, not which.
  while (!value.empty() && std::string_view("-@:+!").find(value.front()) != std::string_view::npos)
    value.remove_prefix(1);
  std::string out;
  const bool quoted = !value.empty() && value.front() == '"';
  if (quoted) value.remove_prefix(1);
  for (std::size_t i = 0; i < value.size(); ++i) {
    char c = value[i];
    if (quoted && c == '"') break;
    if (!quoted && (c == ' ' || c == '\t')) break;
    if (c == '\\' && i + 1 < value.size()) {
      out += value[++i];
      continue;
    }
    if ((c == '%' || c == '$') && i + 1 < value.size() && value[i + 1] == c) ++i;
    out += c;
  }
  return out;
}

}  // namespace

std::string ServiceUser(const std::string& accountName) {
  // Root only when asked for by name: root reads and deletes any file, and every print
  // administrator decides what the service reads through the settings it reloads.
  if (accountName.find("LocalSystem") != std::string::npos) return {};
  std::string user = accountName.rfind(".\\", 0) == 0 ? accountName.substr(2) : accountName;
  if (user.empty()) return kServiceAccount;
  if (user == "root") return {};
  return user;
}

bool IsLinuxUserName(const std::string& name) {
  if (name.empty() || name.size() > 32 || name.front() == '-') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '.' || c == '-';
    if (!plain && !(c == '$' && i + 1 == name.size())) return false;
  }
  return name != "." && name != "..";
}

std::string UnitFileText(const std::string& executable, const std::string& user,
                         std::string* error) {
  if (executable.empty() || executable.front() != '/' || HasControlCharacter(executable)) {
    if (error) *error = "the executable path must be absolute and one line: " + executable;
    return {};
  }
  if (!user.empty() && !IsLinuxUserName(user)) {
    if (error) *error = "\"" + user + "\" is not a Linux user name";
    return {};
  }
  std::string text =
      "# Vellumora hot-folder printing as a system service. Written by\n"
      "# \"vellumora-setup service install\"; the next install replaces it.\n"
      "[Unit]\n"
      "Description=Vellumora hot-folder printing\n"
      "After=cups.service network-online.target\n"
      "Wants=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "NotifyAccess=main\n"
      "ExecStart=" +
      QuotedProgram(executable) + "\n";
  if (user.empty()) {
    // Root: the data directory keeps the print administrators' group.
    text += "Group=" + std::string(kDataGroup) + "\n";
  } else {
    // The account's own group stays its primary group; lpadmin is what CUPS asks of a
    // process that sets a printer's defaults (the channels' driver settings), and it owns
    // the shared data directory.
    text += "User=" + user + "\nSupplementaryGroups=" + std::string(kDataGroup) + "\n";
  }
  text +=
      // The data directory is made by the package or the install (owner the account, group
      // lpadmin, set-group-ID), so that files made in it get the group; the umask leaves
      // them group-writable. No StateDirectory=: systemd would hand the whole tree to the
      // account's own group at every start.
      "UMask=0002\n"
      "Restart=on-failure\n"
      "RestartSec=5s\n"
      // The scan loop and every long wait report to the watchdog; a hung engine is restarted.
      "WatchdogSec=" +
      std::to_string(kWatchdogSeconds) +
      "s\n"
      // Stopping asks for more time itself when a file is still being printed.
      "TimeoutStopSec=30s\n"
      // Hardening that keeps printing (the CUPS socket), the hot folders and archive folders
      // anywhere outside /usr, /boot and /etc, and the mobile server's TCP ports working.
      "NoNewPrivileges=yes\n"
      "ProtectSystem=full\n"
      "PrivateTmp=yes\n"
      "PrivateDevices=yes\n"
      "PrivateMounts=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectClock=yes\n"
      "ProtectHostname=yes\n"
      "ProtectProc=invisible\n"
      "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
      "RestrictNamespaces=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "LockPersonality=yes\n"
      "MemoryDenyWriteExecute=yes\n"
      "KeyringMode=private\n"
      "SystemCallArchitectures=native\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallFilter=~@privileged\n"
      "SystemCallErrorNumber=EPERM\n"
      "RemoveIPC=yes\n";
  if (user.empty()) {
    // Root, as the administrator asked: it may write into other users' hot folders and
    // take the write lease on their files.
    text += "CapabilityBoundingSet=CAP_DAC_OVERRIDE CAP_DAC_READ_SEARCH CAP_FOWNER CAP_LEASE\n";
  } else {
    // No capability but the lease that proves a file complete: the kernel grants a write
    // lease only on files the process owns, and hot-folder files belong to the programs that
    // drop them (without it such a file would wait for the settle time instead).
    text +=
        "CapabilityBoundingSet=CAP_LEASE\n"
        "AmbientCapabilities=CAP_LEASE\n";
  }
  text +=
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n";
  return text;
}

UnitFileFacts ReadUnitFileText(const std::string& text) {
  UnitFileFacts facts;
  bool haveExec = false;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!haveExec && line.rfind("ExecStart=", 0) == 0) {
      facts.executable = UnquotedProgram(line.substr(10));
      haveExec = !facts.executable.empty();
    } else if (line.rfind("User=", 0) == 0) {
      facts.user = std::string(line.substr(5));  // a later User= wins, as in systemd
    }
  }
  return facts;
}

}  // namespace vellumora
