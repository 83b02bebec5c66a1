// Text decoding with the C library's iconv.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/text-encoding.h"

namespace vellumora {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

const char* IconvName(TextFileEncoding e) {
  switch (e) {
    case TextFileEncoding::kUtf16Le:
      return "UTF-16LE";
    case TextFileEncoding::kUtf16Be:
      return "UTF-16BE";
    case TextFileEncoding::kWindows1252:
      return "WINDOWS-1252";
    default:
      return "UTF-8";
  }
}

// Converts `in` to code points. With `strict`, stops at the first invalid sequence and
// returns false; otherwise each invalid sequence (one byte, or one 16-bit unit in UTF-16)
// becomes U+FFFD.
bool Convert(TextFileEncoding encoding, std::string_view in, bool strict, std::u32string* out) {
  iconv_t cd = iconv_open("UTF-32LE", IconvName(encoding));
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  const std::size_t unit =
      encoding == TextFileEncoding::kUtf16Le || encoding == TextFileEncoding::kUtf16Be ? 2 : 1;
  out->clear();
  out->reserve(in.size() / unit + 1);
  std::string buffer(64 * 1024, '\0');
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  bool ok = true;
  auto flush = [&](std::size_t produced) {
    for (std::size_t i = 0; i + 4 <= produced; i += 4) {
      const auto* b = reinterpret_cast<const unsigned char*>(buffer.data() + i);
      out->push_back(static_cast<char32_t>(b[0] | (b[1] << 8) | (b[2] << 16) |
                                           (static_cast<uint32_t>(b[3]) << 24)));
    }
  };
  while (srcLeft > 0) {
    char* dst = buffer.data();
    std::size_t dstLeft = buffer.size();
    const std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    const int err = errno;
    flush(buffer.size() - dstLeft);
    if (r != static_cast<std::size_t>(-1)) break;
    if (err == E2BIG) continue;
    // EILSEQ: an invalid sequence; EINVAL: one cut off at the end of the text.
    if (strict) {
      ok = false;
      break;
    }
    out->push_back(kReplacement);
    const std::size_t skip = std::min(unit, srcLeft);
    src += skip;
    srcLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return ok;
}

}  // namespace

DecodedText DecodeText(std::string_view bytes) {
  DecodedText d;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    d.encoding = TextFileEncoding::kUtf8;
    bytes.remove_prefix(3);
  } else if (bytes.starts_with("\xFF\xFE")) {
    d.encoding = TextFileEncoding::kUtf16Le;
    bytes.remove_prefix(2);
  } else if (bytes.starts_with("\xFE\xFF")) {
    d.encoding = TextFileEncoding::kUtf16Be;
    bytes.remove_prefix(2);
  } else if (Convert(TextFileEncoding::kUtf8, bytes, true, &d.text)) {
    return d;
  } else {
    d.encoding = TextFileEncoding::kWindows1252;
  }
  Convert(d.encoding, bytes, false, &d.text);
  return d;
}

}  // namespace vellumora
