// Looking into input folders: which regular files they hold, and whether we may write there.
#pragma once

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
// sockets are left out. False when the folder cannot be opened.
bool ListRegularFiles(const std::string& folder, std::vector<FolderEntry>* files);

// True when `path` names a directory (a link to one counts).
bool IsDirectory(const std::string& path);

// Creates (or truncates) `testFile` inside `folder`, closes and removes it again. False when
// the folder has no write permission bit at all (a read-only folder refuses even root), when
// the file cannot be created, or when `testFile` is something other than a regular file (a
// planted link is never followed, so nothing outside the folder is truncated).
bool CreateAndRemoveFile(const std::string& folder, const std::string& testFile);

// The same answer without touching the disk, where the kernel's permission check is known to
// tell the truth: on local file systems (ext2/3/4, XFS, Btrfs, tmpfs) a write-and-search access
// check for the effective user, plus the write permission bit rule above. Elsewhere (network
// shares, whose servers decide for themselves) it creates and removes `testFile`.
bool CanCreateFilesIn(const std::string& folder, const std::string& testFile);

}  // namespace vellumora
