// Time stamps and crash-safe file replacement on POSIX file systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"

namespace vellumora {

int64_t FileTimeNs(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

namespace {
bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
  return false;
}

bool WriteAll(int fd, std::string_view bytes) {
  return vellumora::WriteAll(fd, bytes.data(), bytes.size());
}
}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

ReadStatus ReadRegularFile(const std::string& path, std::string* bytes, std::string* error,
                           std::size_t maxBytes, bool forWriting) {
  bytes->clear();
  auto failed = [&](ReadStatus status, int err) {
    bytes->clear();
    if (error) *error = std::strerror(err);
    return status;
  };
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below anyway.
  const int flags = (forWriting ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) {
    const int err = errno;
    if (err == ENOENT) return failed(ReadStatus::kMissing, err);
    if (err == EACCES || err == EPERM || err == EROFS || err == ETXTBSY)
      return failed(ReadStatus::kNoAccess, err);
    if ((err == ELOOP || err == EISDIR) && error) {
      *error = err == ELOOP ? "a symbolic link stands in its place" : "it is a folder";
      return ReadStatus::kFailed;
    }
    return failed(ReadStatus::kFailed, err);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return failed(ReadStatus::kFailed, err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    bytes->clear();
    if (error) *error = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
    return ReadStatus::kFailed;
  }
  if (st.st_size > 0)
    bytes->reserve(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), maxBytes));
  char buffer[64 * 1024];
  while (bytes->size() < maxBytes) {
    const std::size_t want = std::min(sizeof buffer, maxBytes - bytes->size());
    ssize_t n = ::read(fd, buffer, want);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return failed(ReadStatus::kFailed, err);
    }
    bytes->append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ReadStatus::kRead;
}

bool AppendToFile(const std::string& path, std::string_view bytes, unsigned newFileMode) {
  constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  // A new file gets newFileMode whatever the umask (the log is shared with a group).
  int fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
  const bool created = fd >= 0;
  if (!created && errno == EEXIST) fd = ::open(path.c_str(), kFlags);
  if (fd < 0) return false;
  if (created) ::fchmod(fd, static_cast<mode_t>(newFileMode & 0777));
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && WriteAll(fd, bytes);
  ok = ::close(fd) == 0 && ok;
  return ok;
}

bool ReplaceFile(const std::string& path, std::string_view bytes, std::string* error, bool durable,
                 unsigned newFileMode) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return Fail(error, "cannot create a temporary file beside " + path);
  // Keep the old file's permissions when there is one; otherwise newFileMode. A link in its
  // place is replaced, not followed, so the permissions of whatever it points to do not count.
  struct stat st {};
  const bool regular = ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  ::fchmod(fd, regular ? (st.st_mode & 07777) : static_cast<mode_t>(newFileMode & 0777));

  if (!WriteAll(fd, bytes)) {
    int saved = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    errno = saved;
    return Fail(error, "cannot write " + path);
  }
  // Both always run: a failed flush must not leak the descriptor.
  const bool flushed = !durable || ::fsync(fd) == 0;
  int saved = errno;
  const bool closed = ::close(fd) == 0;
  if (!closed && flushed) saved = errno;
  if (!flushed || !closed) {
    ::unlink(temp.c_str());
    errno = saved;
    return Fail(error, "cannot write " + path);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    errno = err;
    return Fail(error, "cannot replace " + path);
  }
  if (!durable) return true;
  // Make the rename itself durable.
  auto slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

namespace {
FileIdentity IdentityFromStat(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
          static_cast<int64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}
}  // namespace

FileIdentity IdentityOf(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return {};
  return IdentityFromStat(st);
}

FileIdentity IdentityOfPath(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {};
  return IdentityFromStat(st);
}

PathCheck CheckPath(const std::string& path, const FileIdentity& identity, FileIdentity* now) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return errno == ENOENT || errno == ENOTDIR ? PathCheck::kGone : PathCheck::kUnknown;
  const FileIdentity found = IdentityFromStat(st);
  if (now) *now = found;
  return found.device == identity.device && found.inode == identity.inode ? PathCheck::kSameFile
                                                                          : PathCheck::kOtherFile;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

void FileHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {
// mkdtemp replaces the six X with letters and digits.
constexpr std::string_view kPrivateFolderPrefix = "vellumora-";
constexpr std::string_view kTemplateLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kTemplateLength = 6;
}  // namespace

std::string MakePrivateFolder(const std::string& parent, std::string* error) {
  std::string path = (parent.empty() ? std::string(".") : parent);
  if (path.back() != '/') path += '/';
  path += std::string(kPrivateFolderPrefix) + std::string(kTemplateLength, 'X');
  if (::mkdtemp(path.data()) == nullptr) {
    Fail(error, "cannot create a folder in " + parent);
    return {};
  }
  return path;
}

bool IsPrivateFolderName(std::string_view name) {
  return name.size() == kPrivateFolderPrefix.size() + kTemplateLength &&
         name.starts_with(kPrivateFolderPrefix) &&
         name.substr(kPrivateFolderPrefix.size()).find_first_not_of(kTemplateLetters) ==
             std::string_view::npos;
}

bool RemoveEmptyFolder(const std::string& path) {
  return ::rmdir(path.c_str()) == 0 || errno == ENOENT;
}

int64_t FreeBytes(const std::string& path) {
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
}

FileHandle OpenTempFile(const std::string& dir, std::string* error) {
  const std::string folder = dir.empty() ? "." : dir;
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without unnamed files: a fresh name, removed at once.
    std::string path = folder + "/vellumora-XXXXXX";
    fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(path.c_str());
  }
  if (fd < 0) Fail(error, "cannot create a temporary file in " + folder);
  return FileHandle(fd);
}

int64_t ReadAt(int fd, void* buffer, std::size_t size, int64_t offset) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done,
                        static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, static_cast<const char*>(data) + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace vellumora
