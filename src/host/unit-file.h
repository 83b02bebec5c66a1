// The systemd unit file of the service: the text the install writes, the account rule, and
// reading the executable and the account back from an installed unit.
#pragma once

#include <optional>
#include <string>

namespace vellumora {

inline constexpr char kUnitName[] = "vellumora.service";
inline constexpr char kUnitDirectory[] = "/etc/systemd/system";
// The watchdog interval of the unit; the scan loop reports far more often.
inline constexpr int kWatchdogSeconds = 60;

// The Linux user the service runs as for the account text the setup gives: empty (root) when
// the text contains "LocalSystem" anywhere (case-sensitive) or is "root"; the service's own
// account kServiceAccount when it is empty; otherwise the text without a leading ".\" (the
// local-machine prefix the setup dialog adds).
std::string ServiceUser(const std::string& accountName);

// A name that may stand in User=: letters, digits, '_', '.', '-' (not first), an optional
// final '$', at most 32 characters.
bool IsLinuxUserName(const std::string& name);

// The unit file for `executable` run as `user` (empty: root). Empty, with the reason in
// *error, when the executable is not an absolute path without control characters or the user
// is no Linux user name: neither may smuggle directives into the file.
std::string UnitFileText(const std::string& executable, const std::string& user,
                         std::string* error);

// What an installed unit file says.
struct UnitFileFacts {
  std::string executable;  // the program of ExecStart=, unquoted
  std::string user;        // User=, empty when the unit has none
};
UnitFileFacts ReadUnitFileText(const std::string& text);

}  // namespace vellumora
