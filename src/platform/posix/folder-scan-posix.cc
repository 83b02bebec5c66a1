// Input folder listing and the folder write test on POSIX file systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <memory>

#include "platform/folder-scan.h"

namespace vellumora {

namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

bool ListRegularFiles(const std::string& folder, std::vector<FolderEntry>* files, bool withTimes) {
  files->clear();
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
  if (!dir) {
    ::close(fd);
    return false;
  }
  while (dirent* e = ::readdir(dir.get())) {
    // Only regular files. d_type saves a system call for the rest; DT_UNKNOWN needs the stat.
    if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
    if (e->d_type == DT_REG && !withTimes) {
      files->push_back(FolderEntry{e->d_name, LocalTime{}});
      continue;
    }
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    files->push_back(FolderEntry{e->d_name, ToLocalTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec)});
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateAndRemoveFile(const std::string& folder, const std::string& testFile) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  // O_EXCL: only a file made here and now is written and removed; with O_CREAT it also never
  // follows a link. Whatever already has the name (a planted link, someone's file, a FIFO)
  // stays untouched, and a file of a name nobody can have planted answers the question.
  std::string made = testFile;
  int fd = ::open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST) {
    made = testFile + ".XXXXXX";
    fd = ::mkostemp(made.data(), O_CLOEXEC);
  }
  if (fd < 0) return false;
  ::close(fd);
  return ::unlink(made.c_str()) == 0;
}

namespace {

// The answer of CanCreateFilesIn for a folder whose status is `st`; *local tells whether it
// lies on a local file system.
bool CanCreateFilesIn(const std::string& folder, const std::string& testFile, const struct stat& st,
                      bool* local) {
  struct statfs fs {};
  if (::statfs(folder.c_str(), &fs) != 0) return false;
  constexpr unsigned long kExt = 0xEF53, kXfs = 0x58465342, kBtrfs = 0x9123683E,
                          kTmpfs = 0x01021994;
  const auto type = static_cast<unsigned long>(fs.f_type);
  *local = type == kExt || type == kXfs || type == kBtrfs || type == kTmpfs;
  if (!*local) return CreateAndRemoveFile(folder, testFile);
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
  // Covers permissions, ACLs, read-only mounts (EROFS) and immutable folders (EPERM).
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

bool CanCreateFilesIn(const std::string& folder, const std::string& testFile) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return false;
  bool local = false;
  return CanCreateFilesIn(folder, testFile, st, &local);
}

FolderCheck CheckInputFolder(const std::string& folder, const std::string& testFile) {
  FolderCheck check;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return check;
  check.isDirectory = true;
  check.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  check.canCreateFiles = CanCreateFilesIn(folder, testFile, st, &check.localFileSystem);
  return check;
}

}  // namespace vellumora
