// File operations the engine needs beyond std::filesystem: precise time stamps and
// crash-safe replacement of a whole file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellumora {

// Modification time in nanoseconds since the epoch; 0 when the file does not exist.
int64_t FileTimeNs(const std::string& path);

// Replaces `path` with `bytes`: written to a temporary file in the same folder, flushed to
// disk and renamed over the old file, so readers see either the old or the new content and a
// failure leaves the old file as it was. On failure returns false and describes it in *error.
bool ReplaceFile(const std::string& path, std::string_view bytes, std::string* error);

// True when the file has no write permission bit at all: it counts as read-only even for root.
bool IsReadOnlyFile(const std::string& path);

}  // namespace vellumora
