// Whether a file dropped into an input folder is complete, that is no longer being written.
//
// Linux has no sharing modes, so "open for writing while others may only read" would succeed
// on a file that another program is still writing. Instead: the file must be writable by us
// (no write permission bit at all means read-only, even for root), and no other process may
// have it open, which a write lease (fcntl F_SETLEASE) proves: the kernel grants one only to
// the sole opener. Where leases are not available (network file systems), the file's size and
// modification time must have stayed unchanged for a settle time instead.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "platform/files.h"

namespace vellumora {

enum class WriteProbe {
  kSole,           // writable, and nobody else has it open
  kOpenElsewhere,  // writable, but another process has it open
  kNoLeases,       // writable; the file system cannot tell whether others have it open
  kNotWritable,    // read-only, missing, not a regular file, or refused
};

struct FileProbe {
  WriteProbe state = WriteProbe::kNotWritable;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  FileIdentity identity;
  // The descriptor the probe opened, kept for every state but kNotWritable: what the outputs
  // read, so the file printed is the file tested, whatever is put at its name meanwhile.
  FileHandle file;
};

// Opens the file for reading and writing (without blocking and without following a link),
// checks on the descriptor that it is a regular writable file, tries a write lease and
// releases it at once. Lease-break signals (SIGIO) are ignored by the
// process from the first call on, unless a handler is installed: the lease is held only for
// microseconds, and the signal's default action would end the process.
FileProbe ProbeForWriting(const std::string& path);
// The same for the entry `name` of the folder open as `folderFd`, whatever that folder's path
// names meanwhile.
FileProbe ProbeForWritingAt(int folderFd, const std::string& name);

// Decides completeness across scans. A file on a local disk is complete at the first look
// when nobody else has it open. Without leases the first look only notes size and time
// stamp; the file is complete once a later look finds them unchanged for `settleMs` or more.
// Never waits itself: the caller passes the time of each look.
class CompletenessTracker {
 public:
  using Probe = std::function<FileProbe(const std::string& path)>;

  explicit CompletenessTracker(Probe probe = ProbeForWriting, int64_t settleMs = 2000);

  struct Result {
    bool complete = false;
    int64_t size = 0;
    FileIdentity identity;
    FileHandle file;  // open when complete
  };
  // nowMs: a monotonic time in milliseconds.
  Result Check(const std::string& path, int64_t nowMs);
  // The file was disposed of: its entry is no longer needed.
  void Done(const std::string& path);

  // Number of files watched for settling (entries of files that vanished are dropped after a
  // long while, so the table cannot grow without bound).
  std::size_t Watched() const { return watched_.size(); }

 private:
  struct Watch {
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t unchangedSinceMs = 0;
    int64_t lastLookMs = 0;
  };
  void Forget(int64_t nowMs);  // drops long-unseen entries, at most every ten minutes

  Probe probe_;
  int64_t settleMs_;
  int64_t lastPruneMs_ = 0;
  std::unordered_map<std::string, Watch> watched_;
};

}  // namespace vellumora
