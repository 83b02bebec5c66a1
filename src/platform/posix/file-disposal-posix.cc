// Moving and deleting processed input files on POSIX file systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

namespace {

// The same file system refuses the atomic no-replace rename (some network file systems):
// a hard link is just as atomic and fails on an existing name too.
bool CannotRenameNoReplace(int err) {
  return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Hard links unsupported here, or not allowed for this file.
bool CannotLink(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == EMLINK;
}

// Gives `from` the name `to` unless `to` exists, atomically; `from` is gone on kMoved. On
// kFailed, *err is the cause and *noLink tells that it came from a hard link refused.
MoveResult RenameNoReplace(const std::string& from, const std::string& to, int* err, bool* noLink) {
  *noLink = false;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return MoveResult::kMoved;
  *err = errno;
  if (*err == EEXIST) return MoveResult::kTargetExists;
  if (!CannotRenameNoReplace(*err)) return MoveResult::kFailed;
  if (::link(from.c_str(), to.c_str()) != 0) {
    *err = errno;
    if (*err == EEXIST) return MoveResult::kTargetExists;
    *noLink = CannotLink(*err);
    return MoveResult::kFailed;
  }
  if (::unlink(from.c_str()) != 0) {
    // Never in both places: take the new name back.
    *err = errno;
    ::unlink(to.c_str());
    return MoveResult::kFailed;
  }
  return MoveResult::kMoved;
}

MoveResult Failed(std::string* error, const std::string& what, int err) {
  Fail(error, what, err);
  return MoveResult::kFailed;
}

// Neither an atomic no-replace rename nor a hard link: the name cannot be taken safely.
MoveResult NoSafeName(std::string* error, const std::string& target, int err) {
  return Failed(error, "cannot create " + target + " without the risk of replacing a file there",
                err);
}

MoveResult Exists(std::string* error, const std::string& target) {
  if (error) *error = target + " exists already";
  return MoveResult::kTargetExists;
}

}  // namespace

MoveResult MoveFileNoReplace(const std::string& source, const std::string& target,
                             std::string* error) {
  int err = 0;
  bool noLink = false;
  MoveResult result = RenameNoReplace(source, target, &err, &noLink);
  if (result == MoveResult::kMoved) {
    SyncFolder(FolderOf(target));
    SyncFolder(FolderOf(source));
    return result;
  }
  if (result == MoveResult::kTargetExists) return Exists(error, target);
  if (noLink) return NoSafeName(error, target, err);
  if (err != EXDEV) return Failed(error, "cannot move " + source + " to " + target, err);

  // Another file system: copy, flush, take the final name without replacing, and only then
  // remove the source.
  int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return Failed(error, "cannot open " + source, errno);
  struct stat st {};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    err = errno;
    ::close(in);
    return Failed(error, "not a regular file: " + source, err == 0 ? EINVAL : err);
  }
  // No copy for a name that is taken already; one that appears during the copy is still
  // refused when the copy takes its name.
  struct stat existing {};
  if (::lstat(target.c_str(), &existing) == 0) {
    ::close(in);
    return Exists(error, target);
  }
  std::string temp;
  const bool copied = CopyBesideTarget(in, st, target, &temp, error);
  ::close(in);
  if (!copied) return MoveResult::kFailed;
  result = RenameNoReplace(temp, target, &err, &noLink);
  if (result != MoveResult::kMoved) {
    ::unlink(temp.c_str());
    if (result == MoveResult::kTargetExists) return Exists(error, target);
    if (noLink) return NoSafeName(error, target, err);
    return Failed(error, "cannot move " + source + " to " + target, err);
  }
  SyncFolder(FolderOf(target));
  if (::unlink(source.c_str()) != 0) {
    // The source stays: take the copy back, so that a retry does not archive it twice.
    err = errno;
    ::unlink(target.c_str());
    SyncFolder(FolderOf(target));
    return Failed(error, "cannot remove " + source, err);
  }
  SyncFolder(FolderOf(source));
  return MoveResult::kMoved;
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
