// Text files from anywhere turned into Unicode code points: the byte order mark, valid UTF-8
// or Windows-1252 decide how the bytes are read, and bytes that mean nothing become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace vellumora {

enum class TextFileEncoding { kUtf8, kUtf16Le, kUtf16Be, kWindows1252 };

struct DecodedText {
  std::u32string text;
  TextFileEncoding encoding = TextFileEncoding::kUtf8;
};

// A byte order mark selects UTF-8, UTF-16LE or UTF-16BE (and is dropped); otherwise the
// bytes are UTF-8 when they are valid UTF-8, else Windows-1252. Byte sequences that are not
// valid in the chosen encoding (and the five bytes Windows-1252 leaves undefined) become
// U+FFFD each, and the text goes on after them.
DecodedText DecodeText(std::string_view bytes);

}  // namespace vellumora
