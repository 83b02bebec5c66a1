// IncomingFile on POSIX: openat/renameat2 relative to the folder's descriptor.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/incoming-file.h"

namespace vellumora {

namespace {

std::string Cause(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// The random part of a hidden name: this many of these letters.
constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomLetters = 12;

// Renames without replacing: renameat2 where the file system has it, else a hard link (which
// never replaces either) and the removal of the hidden name.
int RenameNoReplace(int dirFd, const char* from, const char* to) {
  if (::renameat2(dirFd, from, dirFd, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::linkat(dirFd, from, dirFd, to, 0) != 0) return -1;
  ::unlinkat(dirFd, from, 0);
  return 0;
}

}  // namespace

IncomingFile::IncomingFile(IncomingFile&& other) noexcept
    : dirFd_(other.dirFd_), fd_(other.fd_), hiddenName_(std::move(other.hiddenName_)) {
  other.dirFd_ = -1;
  other.fd_ = -1;
}

IncomingFile& IncomingFile::operator=(IncomingFile&& other) noexcept {
  if (this != &other) {
    Discard();
    dirFd_ = other.dirFd_;
    fd_ = other.fd_;
    hiddenName_ = std::move(other.hiddenName_);
    other.dirFd_ = -1;
    other.fd_ = -1;
  }
  return *this;
}

IncomingFile::~IncomingFile() {
  Discard();
}

void IncomingFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlinkat(dirFd_, hiddenName_.c_str(), 0);
  }
  if (dirFd_ >= 0) ::close(dirFd_);
  fd_ = -1;
  dirFd_ = -1;
}

IncomingFile IncomingFile::Create(const std::string& folder, std::string_view hiddenPrefix,
                                  std::string* error) {
  IncomingFile file;
  file.dirFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (file.dirFd_ < 0) {
    if (error) *error = Cause("cannot open folder " + folder);
    return file;
  }
  std::random_device random;
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::string name(hiddenPrefix);
    for (std::size_t i = 0; i < kRandomLetters; ++i)
      name.push_back(kLetters[random() % (sizeof kLetters - 1)]);
    const int fd = ::openat(file.dirFd_, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      file.fd_ = fd;
      file.hiddenName_ = std::move(name);
      return file;
    }
    if (errno != EEXIST) break;
  }
  if (error) *error = Cause("cannot create a file in " + folder);
  ::close(file.dirFd_);
  file.dirFd_ = -1;
  return file;
}

bool IncomingFile::IsHiddenName(std::string_view name, std::string_view hiddenPrefix) {
  if (name.size() != hiddenPrefix.size() + kRandomLetters || !name.starts_with(hiddenPrefix))
    return false;
  const std::string_view letters(kLetters, sizeof kLetters - 1);
  return name.substr(hiddenPrefix.size()).find_first_not_of(letters) == std::string_view::npos;
}

bool IncomingFile::Write(const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0 && fd_ >= 0) {
    const ssize_t n = ::write(fd_, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return fd_ >= 0;
}

bool IncomingFile::Commit(const std::function<std::string(int)>& candidate, std::string* finalName,
                          std::string* error) {
  if (fd_ < 0) {
    if (error) *error = "no file";
    return false;
  }
  if (::fsync(fd_) != 0) {
    if (error) *error = Cause("cannot write the file");
    Discard();
    return false;
  }
  // The hidden name must still be the file we wrote: someone with write access to the folder
  // could have put something else there meanwhile.
  struct stat mine {};
  struct stat named {};
  if (::fstat(fd_, &mine) != 0 ||
      ::fstatat(dirFd_, hiddenName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      mine.st_dev != named.st_dev || mine.st_ino != named.st_ino) {
    if (error) *error = "the file was replaced while it arrived";
    ::close(fd_);
    fd_ = -1;
    Discard();
    return false;
  }
  for (int attempt = 1;; ++attempt) {
    const std::string name = candidate(attempt);
    if (name.empty()) {
      if (error) *error = "every name is taken";
      break;
    }
    if (RenameNoReplace(dirFd_, hiddenName_.c_str(), name.c_str()) == 0) {
      ::fsync(dirFd_);
      ::close(fd_);
      ::close(dirFd_);
      fd_ = -1;
      dirFd_ = -1;
      if (finalName) *finalName = name;
      return true;
    }
    if (errno != EEXIST) {
      if (error) *error = Cause("cannot name the file " + name);
      break;
    }
  }
  Discard();
  return false;
}

}  // namespace vellumora
