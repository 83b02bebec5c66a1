// ExtensionInList and the readable form of names in log lines.
#include "kernel/extension-list.h"

#include <gtest/gtest.h>

#include "kernel/readable-text.h"

namespace vellumora {
namespace {

TEST(ExtensionInList, Cases) {
  struct Case {
    std::string_view list, name;
    bool expected;
  };
  const Case cases[] = {
      {kQualifyingExtensions, "a.pdf", true},
      {kQualifyingExtensions, "a.Jpeg", true},
      {kQualifyingExtensions, "x.TI", true},  // part of ".TIF"
      {kQualifyingExtensions, "a.txt", false},
      {kQualifyingExtensions, "a.", false},  // one character is no extension
      {kQualifyingExtensions, "noext", false},
      {kQualifyingExtensions, "a.pdf.txt", false},         // from the last point on
      {kQualifyingExtensions, "/in/x.pdf.d/name", false},  // a point in a folder is no extension
      {kQualifyingExtensions, "/in/x.pdf.d/name.gif", true},
      {kQualifyingExtensions, "a.p\xC3\xA9", false},
      {kTextExtensions, "/in/report.LOG", true},
      {kPdfExtensions, "Thumbs.db", false},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtensionInList(c.list, c.name), c.expected) << c.name;
}

TEST(ReadableText, KeepsValidTextAndEscapesTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"with blanks \"and\" 'quotes'.pdf", "with blanks \"and\" 'quotes'.pdf"},
      {"\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE \xE5\x86\x99\xE7\x9C\x9F \xF0\x9F\x93\x84",
       "\xD1\x84\xD0\xBE\xD1\x82\xD0\xBE \xE5\x86\x99\xE7\x9C\x9F \xF0\x9F\x93\x84"},
      {"caf\xE9.pdf", "caf\\xE9.pdf"},                          // Latin-1, not UTF-8
      {"line\nbreak\r\t.pdf", "line\\x0Abreak\\x0D\\x09.pdf"},  // one log line stays one line
      {"\xC0\xAF", "\\xC0\\xAF"},                               // overlong slash
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                      // a lone surrogate
      {"cut \xE5\x86", "cut \\xE5\\x86"},                       // truncated at the end
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ReadableText(in), out);
}

}  // namespace
}  // namespace vellumora
