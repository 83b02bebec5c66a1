// Moving and deleting processed input files on POSIX file systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file-disposal.h"

namespace vellumora {

namespace {

std::string FolderOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool Fail(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + std::strerror(err);
  return false;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Copies `in` into a new temporary file beside `target`, flushed to disk; returns its name.
bool CopyBesideTarget(int in, const struct stat& st, const std::string& target, std::string* temp,
                      std::string* error) {
  *temp = FolderOf(target) + "/." + BaseName(target) + ".XXXXXX";
  int out = ::mkostemp(temp->data(), O_CLOEXEC);
  if (out < 0) return Fail(error, "cannot create a file in " + FolderOf(target), errno);
  char buffer[64 * 1024];
  bool ok = true;
  int err = 0;
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      err = errno;
      break;
    }
    if (!WriteAll(out, buffer, static_cast<std::size_t>(n))) {
      ok = false;
      err = errno;
      break;
    }
  }
  if (ok) {
    ::fchmod(out, st.st_mode & 07777);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
    if (::fsync(out) != 0) {
      ok = false;
      err = errno;
    }
  }
  if (::close(out) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp->c_str());
    return Fail(error, "cannot copy to " + target, err);
  }
  return true;
}

}  // namespace

bool MoveFileReplacing(const std::string& source, const std::string& target, std::string* error) {
  if (::rename(source.c_str(), target.c_str()) == 0) {
    SyncFolder(FolderOf(target));
    SyncFolder(FolderOf(source));
    return true;
  }
  if (errno != EXDEV) return Fail(error, "cannot move " + source + " to " + target, errno);

  // Another file system: copy, flush, rename into place, and only then remove the source.
  int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return Fail(error, "cannot open " + source, errno);
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = errno;
    ::close(in);
    return Fail(error, "not a regular file: " + source, err == 0 ? EINVAL : err);
  }
  std::string temp;
  bool copied = CopyBesideTarget(in, st, target, &temp, error);
  ::close(in);
  if (!copied) return false;
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    return Fail(error, "cannot move " + source + " to " + target, err);
  }
  SyncFolder(FolderOf(target));
  // The copy is safe on disk now. Should the source refuse to go, the move counts as failed
  // and a retry replaces the same target again.
  if (::unlink(source.c_str()) != 0) return Fail(error, "cannot remove " + source, errno);
  SyncFolder(FolderOf(source));
  return true;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

void CloseFileHandle(int handle) {
  if (handle >= 0) ::close(handle);
}

}  // namespace vellumora
