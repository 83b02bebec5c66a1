// Time stamps and crash-safe file replacement on POSIX file systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
}  // namespace

bool ReplaceFile(const std::string& path, std::string_view bytes, std::string* error,
                 bool durable) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return Fail(error, "cannot create a temporary file beside " + path);
  // Keep the old file's permissions when there is one; otherwise rw-r--r--.
  struct stat st {};
  ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);

  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      errno = saved;
      return Fail(error, "cannot write " + path);
    }
    done += static_cast<std::size_t>(n);
  }
  if ((durable && ::fsync(fd) != 0) || ::close(fd) != 0) {
    int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return Fail(error, "cannot write " + path);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
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

ReadResult ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string* out,
                         std::string* error) {
  out->clear();
  FileHandle file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.valid()) {
    if (errno == ENOENT) return ReadResult::kMissing;
    Fail(error, "cannot open " + path);
    return ReadResult::kFailed;
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<uint64_t>(st.st_size) > maxBytes) {
    if (error) *error = path + " is not a regular file of a plausible size";
    return ReadResult::kFailed;
  }
  out->resize(static_cast<std::size_t>(st.st_size));
  const int64_t got = ReadAt(file.get(), out->data(), out->size(), 0);
  if (got < 0) {
    Fail(error, "cannot read " + path);
    return ReadResult::kFailed;
  }
  out->resize(static_cast<std::size_t>(got));
  return ReadResult::kRead;
}

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

bool NamesSameFile(const std::string& path, const FileIdentity& identity) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  const FileIdentity now = IdentityFromStat(st);
  return now.device == identity.device && now.inode == identity.inode;
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
