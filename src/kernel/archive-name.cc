// Clash names for the archive folder, kept within the file name limit.
#include "kernel/archive-name.h"

namespace vellumora {

namespace {

bool IsContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The first `size` bytes of `text` or fewer, ending before a UTF-8 sequence rather than inside
// one. Bytes that are not UTF-8 at all are cut where they are.
std::string CutAt(const std::string& text, std::size_t size) {
  if (size >= text.size()) return text;
  // A sequence has at most three continuation bytes after its lead byte.
  for (int back = 0; back < 3 && size > 0 && IsContinuationByte(text[size]); ++back) --size;
  if (size > 0 && IsContinuationByte(text[size])) size += 3;  // not UTF-8 here: cut anywhere
  return text.substr(0, size);
}

}  // namespace

std::string ArchiveClashName(const std::string& prefix, const std::string& name) {
  if (prefix.size() + name.size() <= kMaxFileNameBytes) return prefix + name;
  const std::size_t dot = name.find_last_of('.');
  const std::string extension =
      dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot);
  const std::string stem = name.substr(0, name.size() - extension.size());
  if (prefix.size() + extension.size() < kMaxFileNameBytes)
    return prefix + CutAt(stem, kMaxFileNameBytes - prefix.size() - extension.size()) + extension;
  return CutAt(prefix + name, kMaxFileNameBytes);
}

}  // namespace vellumora
