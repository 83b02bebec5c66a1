// Fixed-size text fields of records and UTF conversion through utfcpp.
#include "kernel/text-fields.h"

#include <utf8.h>

#include <algorithm>
#include <iterator>

namespace vellumora {

std::u16string Utf8ToUtf16(std::string_view text) {
  std::string valid;
  utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
  std::u16string out;
  utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  // utfcpp throws on lone surrogates; replace them first so the conversion cannot fail.
  std::u16string clean;
  clean.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      clean.push_back(c);
      clean.push_back(text[++i]);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      clean.push_back(0xFFFD);
    } else {
      clean.push_back(c);
    }
  }
  std::string out;
  utf8::utf16to8(clean.begin(), clean.end(), std::back_inserter(out));
  return out;
}

std::string EncodeUtf16(std::u16string_view text, bool bigEndian) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  }
  return out;
}

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]),
               b = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
  }
  return out;
}

std::string ReadWideField(std::span<const char16_t> field) {
  auto end = std::find(field.begin(), field.end(), u'\0');
  return Utf16ToUtf8(
      std::u16string_view(field.data(), static_cast<std::size_t>(end - field.begin())));
}

std::string ReadNarrowField(std::span<const char> field) {
  auto end = std::find(field.begin(), field.end(), '\0');
  return std::string(field.data(), static_cast<std::size_t>(end - field.begin()));
}

bool WriteWideField(std::span<char16_t> field, std::string_view text) {
  std::fill(field.begin(), field.end(), u'\0');
  if (field.empty()) return text.empty();
  std::u16string wide = Utf8ToUtf16(text);
  std::size_t n = std::min(wide.size(), field.size() - 1);
  if (n < wide.size() && n > 0 && wide[n - 1] >= 0xD800 && wide[n - 1] <= 0xDBFF) --n;
  std::copy_n(wide.begin(), n, field.begin());
  return n == wide.size();
}

bool WriteNarrowField(std::span<char> field, std::string_view text) {
  std::fill(field.begin(), field.end(), '\0');
  if (field.empty()) return text.empty();
  std::size_t n = std::min(text.size(), field.size() - 1);
  std::copy_n(text.begin(), n, field.begin());
  return n == text.size();
}

}  // namespace vellumora
