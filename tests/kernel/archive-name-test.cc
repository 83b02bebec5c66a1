// ArchiveClashName: the prefixed name of a file whose name is taken in the archive folder.
#include "kernel/archive-name.h"

#include <gtest/gtest.h>

#include <string>

#include "kernel/readable-text.h"

namespace vellumora {
namespace {

std::string Times(const std::string& piece, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) out += piece;
  return out;
}

TEST(ArchiveClashName, StaysWithinTheNameLimitKeepingExtensionAndWholeCharacters) {
  const std::string prefix = "20260307091501123 ";  // 18 bytes
  const std::string e = "\xC3\xA9";                 // é, two bytes
  const std::string printer = "\xF0\x9F\x96\xA8";   // U+1F5A8, four bytes
  struct Case {
    const char* what;
    std::string name;
    std::string expected;
  };
  const Case cases[] = {
      {"short", "scan 1.pdf", prefix + "scan 1.pdf"},
      {"exactly at the limit", Times("x", 233) + ".pdf", prefix + Times("x", 233) + ".pdf"},
      {"one byte over", Times("x", 234) + ".pdf", prefix + Times("x", 233) + ".pdf"},
      {"two-byte letters cut between them", Times(e, 150) + ".jpg",
       prefix + Times(e, 116) + ".jpg"},  // 233 bytes of room: 116 letters, not 116 and a half
      {"four-byte characters", Times(printer, 70) + ".tif", prefix + Times(printer, 58) + ".tif"},
      {"no extension", Times("n", 300), prefix + Times("n", 237)},
      {"a leading dot is no extension", "." + Times("h", 300), prefix + "." + Times("h", 236)},
      {"only the last extension is kept", Times("d", 300) + ".tar.gz",
       prefix + Times("d", 234) + ".gz"},
      {"an extension too long to keep", "a." + Times("e", 300), prefix + "a." + Times("e", 235)},
      {"bytes that are not UTF-8", Times("\x80", 300) + ".prn",
       prefix + Times("\x80", 233) + ".prn"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    const std::string got = ArchiveClashName(prefix, tc.name);
    EXPECT_EQ(got, tc.expected);
    EXPECT_LE(got.size(), kMaxFileNameBytes);
    if (ReadableText(tc.name) == tc.name) {
      EXPECT_EQ(ReadableText(got), got) << "a character was split";
    }
  }
}

}  // namespace
}  // namespace vellumora
