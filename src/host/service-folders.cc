// The service's view of hot folders: whose access to check, the places its sandbox hides, and
// the warnings with their remedies.
#include "host/service-folders.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

#include "host/service.h"
#include "host/unit-file.h"
#include "kernel/kernel.h"
#include "platform/account-access.h"

namespace vellumora {

namespace {

namespace fs = std::filesystem;

// A word the shell takes as it is, or the word in single quotes.
std::string ShellWord(const std::string& word) {
  bool plain = !word.empty();
  for (char c : word) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("_./-+,:@%=").find(c) != std::string_view::npos;
    plain = plain && safe;
  }
  if (plain) return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// True when `path` is `root` or lies below it (whole components only: /tmpfiles is not /tmp).
bool Below(const fs::path& path, const fs::path& root) {
  auto p = path.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p)
    if (p == path.end() || *p != *r) return false;
  return true;
}

// What the unit's sandboxing does to the folders below each of these.
struct SandboxedPlace {
  const char* root;
  const char* effect;
  bool hidden;  // the service has a private one and never sees what lies below
};
constexpr SandboxedPlace kSandboxedPlaces[] = {
    {"/tmp", "which the service does not see (it has a private /tmp)", true},
    {"/var/tmp", "which the service does not see (it has a private /var/tmp)", true},
    {"/dev", "which the service does not see (it has a private /dev)", true},
    {"/usr", "which is read-only for the service", false},
    {"/boot", "which is read-only for the service", false},
    {"/efi", "which is read-only for the service", false},
    {"/etc", "which is read-only for the service", false},
};

// The first place of the table that `path` lies below, as written or with links resolved.
const SandboxedPlace* PlaceOf(const std::string& path) {
  std::error_code ec;
  const fs::path written = fs::absolute(path, ec).lexically_normal();
  const fs::path resolved = fs::weakly_canonical(written, ec);
  for (const SandboxedPlace& place : kSandboxedPlaces) {
    if (Below(written, place.root) || (!resolved.empty() && Below(resolved, place.root)))
      return &place;
  }
  return nullptr;
}

}  // namespace

std::string FolderCheckAccount(const C_VAZService& service) {
  if (service.installed) {
    const std::string user = ServiceUser(service.accountName);
    return user == "root" ? std::string() : user;
  }
  std::string ignored;
  return LookUpAccount(kServiceAccount, &ignored) ? std::string(kServiceAccount) : std::string();
}

std::string GrantCommand(const std::string& folder, const std::string& account) {
  std::string command = "vellumora-setup grant " + ShellWord(folder);
  if (account != kServiceAccount) command += " --account " + ShellWord(account);
  return command;
}

std::string SandboxedFolderReason(const std::string& folder) {
  const SandboxedPlace* place = PlaceOf(folder);
  if (!place) return {};
  return folder + " lies below " + place->root + ", " + place->effect + ": use another folder";
}

std::string HiddenFromTheService(const std::string& path) {
  const SandboxedPlace* place = PlaceOf(path);
  return place && place->hidden ? place->root : std::string();
}

std::vector<std::string> ServiceFolderWarnings(const std::string& folder,
                                               const std::string& account, bool serviceInstalled) {
  std::vector<std::string> lines;
  if (serviceInstalled) {
    const std::string sandboxed = SandboxedFolderReason(folder);
    if (!sandboxed.empty()) lines.push_back(sandboxed);
  }
  if (account.empty()) return lines;
  std::string error;
  const std::optional<AccountIds> ids = LookUpAccount(account, &error);
  if (!ids) {
    lines.push_back("the service's account cannot be checked: " + error);
    return lines;
  }
  const FolderReach reach = CheckAccountReach(*ids, folder);
  const std::string who = "the service's account " + account;
  switch (reach.verdict) {
    case FolderReach::Verdict::kReaches:
      break;
    case FolderReach::Verdict::kUnknown:
      lines.push_back("cannot tell whether " + who + " can use " + folder + ": " + reach.problem);
      break;
    case FolderReach::Verdict::kDenied: {
      std::string line = who + " cannot use " + folder + ": " + reach.Reason(account) + ". ";
      if (reach.notFound) {
        line += "Create it, then run: " + GrantCommand(folder, account);
      } else if (!reach.problem.empty()) {
        line += "Use a folder instead";
      } else {
        std::string fix;
        if (!reach.blockedAncestors.empty()) {
          fix = "setfacl -m u:" + ShellWord(account) + ":x";
          for (const std::string& ancestor : reach.blockedAncestors)
            fix += " " + ShellWord(ancestor);
        }
        if (reach.folderMissing != 0)
          fix += (fix.empty() ? "" : " && ") + GrantCommand(folder, account);
        line += "Fix: " + fix;
      }
      lines.push_back(line);
      break;
    }
  }
  return lines;
}

}  // namespace vellumora
