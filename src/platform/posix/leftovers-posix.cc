// Removal of an earlier run's leftovers on POSIX file systems: everything relative to the
// folder's descriptor, nothing followed, every name checked against what is removed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/file-completeness.h"
#include "platform/files.h"
#include "platform/incoming-file.h"
#include "platform/leftovers.h"

namespace vellumora {

namespace {

// Entries read from one folder at most: a folder larger than that is swept in part, the rest
// at a later start.
constexpr int32_t kMaxEntries = 100'000;
// A render folder holds one file per page: more than this is nothing we left.
constexpr std::size_t kMaxFilesInPrivateFolder = 20'000;

int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

int64_t CoarseNow() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return Nanoseconds(now);
}

// Read once, before main: the file systems stamp with the same coarse clock, so a file this
// process makes can never look older than the process.
const int64_t gProcessStartNs = CoarseNow();

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// The folder `name` relative to `parent` (AT_FDCWD: a path) as a directory stream.
Dir OpenFolder(int parent, const std::string& name, int extraFlags) {
  const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | extraFlags);
  if (fd < 0) return nullptr;
  Dir dir(::fdopendir(fd));
  if (!dir) ::close(fd);
  return dir;
}

// The names in the folder (without "." and ".."), at most `limit`; false when there were more.
bool ReadNames(DIR* dir, std::size_t limit, std::vector<std::string>* names) {
  while (dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    if (names->size() >= limit) return false;
    names->emplace_back(name);
  }
  return true;
}

bool SameFile(const struct stat& a, const FileIdentity& b) {
  return static_cast<uint64_t>(a.st_dev) == b.device && static_cast<uint64_t>(a.st_ino) == b.inode;
}

// Unlinks `name` from the folder when it is still the file that was examined.
bool UnlinkIfSame(int folderFd, const std::string& name, const FileIdentity& identity) {
  struct stat now {};
  if (::fstatat(folderFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISREG(now.st_mode) || !SameFile(now, identity)) return false;
  return ::unlinkat(folderFd, name.c_str(), 0) == 0;
}

// Removes the regular files of the private folder `name` in `parentFd` and then the folder.
bool RemovePrivateFolder(int parentFd, const std::string& name, int64_t beforeNs) {
  struct stat seen {};
  if (::fstatat(parentFd, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISDIR(seen.st_mode) || Nanoseconds(seen.st_mtim) >= beforeNs) return false;
  Dir dir = OpenFolder(parentFd, name, O_NOFOLLOW);
  if (!dir) return false;
  const int fd = ::dirfd(dir.get());
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino)
    return false;  // replaced between the look and the open

  std::vector<std::string> names;
  if (!ReadNames(dir.get(), kMaxFilesInPrivateFolder, &names)) return false;
  // Every entry is judged before any is removed: a folder that is not wholly a leftover stays
  // whole.
  std::vector<std::pair<std::string, FileIdentity>> files;
  for (const std::string& entry : names) {
    struct stat st {};
    if (::fstatat(fd, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISREG(st.st_mode) || Nanoseconds(st.st_mtim) >= beforeNs) return false;
    const FileProbe probe = ProbeForWritingAt(fd, entry);
    if (probe.state == WriteProbe::kOpenElsewhere) return false;
    files.emplace_back(entry, FileIdentity{static_cast<uint64_t>(st.st_dev),
                                           static_cast<uint64_t>(st.st_ino), 0, 0});
  }
  for (const auto& [entry, identity] : files)
    if (!UnlinkIfSame(fd, entry, identity)) return false;
  return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
}

}  // namespace

int64_t ProcessStartTimeNs() {
  return gProcessStartNs;
}

int32_t RemoveUnfinishedIncomingFiles(const std::string& folder, std::string_view hiddenPrefix,
                                      int64_t beforeNs) {
  // The folder is opened as the uploads opened it; nothing in it is followed.
  Dir dir = OpenFolder(AT_FDCWD, folder, 0);
  if (!dir) return 0;
  const int fd = ::dirfd(dir.get());
  int32_t removed = 0;
  int32_t read = 0;
  while (dirent* e = ::readdir(dir.get())) {
    if (++read > kMaxEntries) break;
    const std::string name = e->d_name;
    if (!IncomingFile::IsHiddenName(name, hiddenPrefix)) continue;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || Nanoseconds(st.st_mtim) >= beforeNs) continue;
    // Still open, by a writer of an upload that is still arriving: it stays. The time stamp is
    // taken again from the open file, which a writer may have touched since the look.
    const FileProbe probe = ProbeForWritingAt(fd, name);
    if (probe.state != WriteProbe::kSole || !SameFile(st, probe.identity) ||
        probe.mtimeNs >= beforeNs)
      continue;
    if (UnlinkIfSame(fd, name, probe.identity)) ++removed;
  }
  return removed;
}

int32_t RemoveAbandonedPrivateFolders(const std::string& folder, int64_t beforeNs) {
  Dir dir = OpenFolder(AT_FDCWD, folder, O_NOFOLLOW);
  if (!dir) return 0;
  std::vector<std::string> candidates;
  int32_t read = 0;
  while (dirent* e = ::readdir(dir.get())) {
    if (++read > kMaxEntries) break;
    if (IsPrivateFolderName(e->d_name)) candidates.emplace_back(e->d_name);
  }
  int32_t removed = 0;
  for (const std::string& name : candidates)
    if (RemovePrivateFolder(::dirfd(dir.get()), name, beforeNs)) ++removed;
  return removed;
}

}  // namespace vellumora
