// Reading and writing the fixed-size text fields of records, and UTF-8/UTF-16 conversion.
// Inside the engine texts are UTF-8 std::string; records hold UTF-16 code units or 8-bit bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace vellumora {

// Lossless where the input is valid; invalid sequences become U+FFFD instead of failing.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16 code units to and from bytes in either byte order (no byte order mark handling).
std::string EncodeUtf16(std::u16string_view text, bool bigEndian = false);
std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian = false);

// The text of a wide field up to its terminator, or up to the end of the array when it has none.
std::string ReadWideField(std::span<const char16_t> field);
// The bytes of a narrow field up to its terminator or the end of the array.
std::string ReadNarrowField(std::span<const char> field);

// Zero-fills the field and stores as much of the text as fits with a terminator (n-1 units);
// a surrogate pair is never split. Returns false when the text had to be cut.
bool WriteWideField(std::span<char16_t> field, std::string_view text);
bool WriteNarrowField(std::span<char> field, std::string_view text);

template <std::size_t N>
std::string ReadField(const char16_t (&f)[N]) {
  return ReadWideField(std::span<const char16_t>(f, N));
}
template <std::size_t N>
std::string ReadField(const char (&f)[N]) {
  return ReadNarrowField(std::span<const char>(f, N));
}
template <std::size_t N>
bool WriteField(char16_t (&f)[N], std::string_view text) {
  return WriteWideField(std::span<char16_t>(f, N), text);
}
template <std::size_t N>
bool WriteField(char (&f)[N], std::string_view text) {
  return WriteNarrowField(std::span<char>(f, N), text);
}

}  // namespace vellumora
