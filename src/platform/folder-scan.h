// Looking into input folders: which regular files they hold, and whether we may write there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace vellumora {

struct FolderEntry {
  std::string name;    // the name's bytes as stored, not necessarily valid UTF-8
  LocalTime modified;  // modification time, local time
};

// Lists the regular files of `folder`. Directories, symbolic links (even to regular files:
// a link could make a privileged service print any file of the machine), devices, FIFOs and
// sockets are left out. Without `withTimes` the modification times are left zero, which saves
// a system call per file where the file system names each entry's type. False when the
// folder cannot be opened.
bool ListRegularFiles(const std::string& folder, std::vector<FolderEntry>* files,
                      bool withTimes = true);

// True when `path` names a directory (a link to one counts).
bool IsDirectory(const std::string& path);

// Creates `testFile` inside `folder` as a new file, closes and removes it again. When that name
// is taken already (by a planted link, someone's file, a leftover), the entry is left as it
// is and a new file of a unique name beside it is made and removed instead: nothing is ever
// written through a link or truncated. False when the folder has no write permission bit at
// all (a read-only folder refuses even root) or no file can be created in it.
bool CreateAndRemoveFile(const std::string& folder, const std::string& testFile);

// The same answer without touching the disk, where the kernel's permission check is known to
// tell the truth: on local file systems (ext2/3/4, XFS, Btrfs, tmpfs) a write-and-search access
// check for the effective user, plus the write permission bit rule above. Elsewhere (network
// shares, whose servers decide for themselves) it creates and removes `testFile`.
bool CanCreateFilesIn(const std::string& folder, const std::string& testFile);

// Which directory a path names: its device and inode.
struct FolderIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FolderIdentity&) const = default;
};

// IsDirectory and CanCreateFilesIn in one, as each scan asks them, with the directory's
// identity: a local folder costs three system calls.
struct FolderCheck {
  bool isDirectory = false;
  bool canCreateFiles = false;  // only asked when it is a directory
  // On a local file system (ext2/3/4, XFS, Btrfs, tmpfs), where the kernel's answers, and
  // its change notifications, are the whole truth.
  bool localFileSystem = false;
  FolderIdentity identity;
};
FolderCheck CheckInputFolder(const std::string& folder, const std::string& testFile);

}  // namespace vellumora
