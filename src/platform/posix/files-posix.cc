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

bool ReplaceFile(const std::string& path, std::string_view bytes, std::string* error) {
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return Fail(error, "cannot create a temporary file beside " + path);
  // Keep the old file's permissions when there is one; otherwise rw-r--r--. A link in its
  // place is replaced, not followed, so the permissions of whatever it points to do not count.
  struct stat st {};
  const bool regular = ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  ::fchmod(fd, regular ? (st.st_mode & 07777) : 0644);

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
  // Both always run: a failed flush must not leak the descriptor.
  const bool flushed = ::fsync(fd) == 0;
  int saved = errno;
  const bool closed = ::close(fd) == 0;
  if (!closed && flushed) saved = errno;
  if (!flushed || !closed) {
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

}  // namespace vellumora
