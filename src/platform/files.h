// File operations the engine needs beyond std::filesystem: precise time stamps, careful
// reads of files that others may have planted, appends and crash-safe replacement of a whole
// file. None of them throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellumora {

// True when a directory entry of that name exists (a dangling link counts).
bool FileExists(const std::string& path);

enum class ReadStatus {
  kRead,
  kMissing,   // no such file
  kNoAccess,  // the file exists but may not be opened (for writing, when that was asked)
  kFailed,    // anything else: a link, a folder, a FIFO or device, a read error
};

// Reads the regular file `path` into *bytes, at most `maxBytes` of it (the rest is ignored).
// A symbolic link in its place is not followed, and anything but a regular file is refused,
// so a planted FIFO cannot block the reader and a planted link cannot make it read another
// file. With forWriting the file must open for reading and writing. Unless kRead, *bytes is
// empty and *error (when given) says why.
ReadStatus ReadRegularFile(const std::string& path, std::string* bytes, std::string* error,
                           std::size_t maxBytes, bool forWriting = false);

// Appends `bytes` to the regular file `path`, creating it with newFileMode (whatever the umask)
// when missing. A link in its place is not followed. False when the file could not be opened or
// written.
bool AppendToFile(const std::string& path, std::string_view bytes, unsigned newFileMode = 0644);

// Modification time in nanoseconds since the epoch; 0 when the file does not exist.
int64_t FileTimeNs(const std::string& path);

// Replaces `path` with `bytes`: written to a temporary file in the same folder, flushed to
// disk and renamed over the old file, so readers see either the old or the new content and a
// failure leaves the old file as it was. On failure returns false and describes it in *error.
// Without `durable` the data and the rename are not flushed: cheaper, for files whose loss in
// a crash is harmless. A new file gets `newFileMode`; a replaced one keeps its permissions.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string* error,
                 bool durable = true, unsigned newFileMode = 0644);

// True when the file has no write permission bit at all: it counts as read-only even for root.
bool IsReadOnlyFile(const std::string& path);

// Which file a descriptor or name stands for, and the state it was seen in.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the open file; all zero when it cannot be read.
FileIdentity IdentityOf(int fd);
// The identity of what `path` names, without following a final link; all zero when nothing.
FileIdentity IdentityOfPath(const std::string& path);
// What `path` names now (without following a final link) against `identity`'s device and
// inode. kGone only when nothing is there; kUnknown when it cannot be told (no permission, an
// I/O error, a network share that is away), which must never be taken for gone.
// With `now`, also what it found there.
enum class PathCheck { kSameFile, kOtherFile, kGone, kUnknown };
PathCheck CheckPath(const std::string& path, const FileIdentity& identity,
                    FileIdentity* now = nullptr);
// An open file descriptor that is closed when the handle goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { Close(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Close();

 private:
  int fd_ = -1;
};

// A new folder of our own in `parent` (mode 0700), for temporary files that must have names:
// nobody else can put anything there. Empty, with the cause in *error, when it cannot be made.
std::string MakePrivateFolder(const std::string& parent, std::string* error);
// True when `name` is exactly a name that MakePrivateFolder gives its folders: "vellumora-"
// and six random letters or digits, nothing else.
bool IsPrivateFolderName(std::string_view name);
// Removes an empty folder; false when it is still there.
bool RemoveEmptyFolder(const std::string& path);
// Bytes free for us on the file system that holds `path`; -1 when unknown.
int64_t FreeBytes(const std::string& path);

// A temporary file without a name in `dir`, gone when its handle is closed: nobody can swap
// it for a link while we write it. Invalid, with the cause in *error, when it cannot be made.
FileHandle OpenTempFile(const std::string& dir, std::string* error);

// Reads up to `size` bytes at `offset`, repeating short reads: the count read (fewer only at
// the end of the file), or -1 on a read error.
int64_t ReadAt(int fd, void* buffer, std::size_t size, int64_t offset);

// Appends all bytes to the descriptor; false on a write error.
bool WriteAll(int fd, const void* data, std::size_t size);

}  // namespace vellumora
