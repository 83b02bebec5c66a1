// The write-lease probe behind the completeness test of input files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>

#include "platform/file-completeness.h"

namespace vellumora {

namespace {

// A lease break is announced with SIGIO, whose default action ends the process. We hold a
// lease only between two fcntl calls, but another program may open the file in exactly that
// moment; it then waits until we release (microseconds), and we must not die of the signal.
void IgnoreLeaseBreakSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction old {};
    if (::sigaction(SIGIO, nullptr, &old) == 0 && old.sa_handler == SIG_DFL &&
        (old.sa_flags & SA_SIGINFO) == 0) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      ::sigaction(SIGIO, &ignore, nullptr);
    }
  });
}

}  // namespace

FileProbe ProbeForWriting(const std::string& path) {
  return ProbeForWritingAt(AT_FDCWD, path);
}

FileProbe ProbeForWritingAt(int folderFd, const std::string& name) {
  IgnoreLeaseBreakSignal();
  FileProbe probe;
  // O_NONBLOCK: a file on which someone else holds a lease fails with EWOULDBLOCK instead of
  // blocking the scan until that lease is broken.
  constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  FileHandle file(::openat(folderFd, name.c_str(), O_RDWR | kFlags));
  // A file another account dropped into a folder granted to us is readable but, through the
  // ACL mask its mode sets, not writable for us. Writing is not what the test is about: the
  // write lease below proves on a read-only descriptor just as well that nobody else has the
  // file open, and disposing of it needs only the folder.
  if (!file.valid() && errno == EACCES)
    file = FileHandle(::openat(folderFd, name.c_str(), O_RDONLY | kFlags));
  if (!file.valid()) {
    if (errno == EWOULDBLOCK) probe.state = WriteProbe::kOpenElsewhere;
    return probe;
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    return probe;  // not a regular file, or read-only (which root could write to regardless)
  }
  probe.identity = IdentityOf(file.get());
  probe.size = probe.identity.size;
  probe.mtimeNs = probe.identity.mtimeNs;

  if (::fcntl(file.get(), F_SETLEASE, F_WRLCK) == 0) {
    ::fcntl(file.get(), F_SETLEASE, F_UNLCK);
    probe.state = WriteProbe::kSole;
  } else if (errno == EAGAIN || errno == EBUSY) {
    probe.state = WriteProbe::kOpenElsewhere;
    return probe;
  } else {
    // EINVAL (file system without leases, or leases switched off), ENOSYS, EACCES (a file we
    // neither own nor may lease): fall back to watching the file settle.
    probe.state = WriteProbe::kNoLeases;
  }
  // Reads start at the first byte and never block (O_NONBLOCK only mattered for opening).
  ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  probe.file = std::move(file);
  return probe;
}

}  // namespace vellumora
