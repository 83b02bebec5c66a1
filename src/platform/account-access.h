// What another account may do in a folder: whether it reaches the folder (judged from the
// permissions, without switching user), and giving it a folder through POSIX ACL entries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vellumora {

// An account as the kernel sees it when that account opens a file.
struct AccountIds {
  std::string name;
  uint32_t uid = 0;
  uint32_t gid = 0;              // the primary group
  std::vector<uint32_t> groups;  // every group of the account, the primary one included
};

// The account `name` from the user database, with its supplementary groups. Nothing, with the
// cause in *error, when there is no such account.
std::optional<AccountIds> LookUpAccount(const std::string& name, std::string* error);

// Permission bits as the kernel checks them.
inline constexpr int kMayRead = 4;
inline constexpr int kMayWrite = 2;
inline constexpr int kMaySearch = 1;

// "read, write and search" for kMayRead | kMayWrite | kMaySearch, and so on.
std::string PermissionWords(int bits);

// Whether an account may use a folder: search permission on every folder on the way to it
// (following symbolic links as the kernel does) and read, write and search on the folder.
struct FolderReach {
  enum class Verdict {
    kReaches,
    kDenied,   // the permissions keep the account out; the fields below say where
    kUnknown,  // this process could not look at a folder on the way (see `problem`)
  };
  Verdict verdict = Verdict::kUnknown;
  // The folders on the way that deny the account search permission, outermost first.
  std::vector<std::string> blockedAncestors;
  std::string folder;     // the folder itself, with links resolved
  int folderMissing = 0;  // of kMayRead | kMayWrite | kMaySearch, what the folder denies
  // Why the folder cannot be judged or used at all: it does not exist, is no folder, a folder
  // on the way cannot be looked at. Empty otherwise.
  std::string problem;
  bool notFound = false;  // the problem is that the folder, or one on the way, does not exist

  bool reaches() const { return verdict == Verdict::kReaches; }
  // One readable sentence: what keeps the account out (empty when it reaches the folder).
  std::string Reason(const std::string& account) const;
};

// Judges `folder` for `account` from the owner, group and other bits and the POSIX ACLs of
// every folder on the way, exactly as the kernel decides (owner entry, named users, the
// owning group and named groups under the mask, others). Root reaches every folder.
FolderReach CheckAccountReach(const AccountIds& account, const std::string& folder);

// What GrantFolder did.
struct GrantResult {
  bool granted = false;  // the folder's ACL and default ACL hold the account's entry
  std::string error;     // why not, when not granted
  // Not granted because this process may not set ACLs there: the folder is another user's,
  // or its file system keeps no ACLs.
  bool notPermitted = false;
  int filesGranted = 0;  // waiting files the account may now read and write
  // "NAME: cause" for each waiting file that could not be given to the account.
  std::vector<std::string> fileErrors;
};

// Gives `account` read, write and search on `folder` through an ACL entry, and the same as a
// default ACL entry, so that files others create in it later are the account's to read and
// delete (the masks are recalculated; a default ACL made new takes its base entries from the
// folder's own). The regular files already waiting directly in the folder, each with a single
// link, get a read and write entry. The folder is opened once without following a link, and
// a link, something other than a folder, the root folder and the top-level folders of the
// system ("/srv" itself, "/etc") are refused. Folders on the way are never changed.
GrantResult GrantFolder(const AccountIds& account, const std::string& folder);

// The time as file time stamps count it (the kernel's coarse clock), in nanoseconds since the
// epoch.
int64_t FileClockNowNs();
// True when `folder` is an empty folder of this process's user whose status changed at or
// after `sinceNs` (from FileClockNowNs): a folder someone just made in a folder chooser. A
// link is not followed.
bool IsNewEmptyFolderOfOurs(const std::string& folder, int64_t sinceNs);

}  // namespace vellumora
