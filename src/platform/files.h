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

// Appends `bytes` to the regular file `path`, creating it (rw-r--r--) when missing. A link in
// its place is not followed. False when the file could not be opened or written.
bool AppendToFile(const std::string& path, std::string_view bytes);

// Modification time in nanoseconds since the epoch; 0 when the file does not exist.
int64_t FileTimeNs(const std::string& path);

// Replaces `path` with `bytes`: written to a temporary file in the same folder, flushed to
// disk and renamed over the old file, so readers see either the old or the new content and a
// failure leaves the old file as it was. On failure returns false and describes it in *error.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string* error);

// True when the file has no write permission bit at all: it counts as read-only even for root.
bool IsReadOnlyFile(const std::string& path);

}  // namespace vellumora
