// Channel records, their text fields and the millimetre/dot arithmetic.
#include <gtest/gtest.h>

#include <cstring>

#include "kernel/kernel.h"
#include "kernel/print-channel.h"
#include "kernel/text-fields.h"
#include "kernel/units.h"

namespace vellumora {
namespace {

TEST(Records, EmptyChannelIsAllZeroBytes) {
  PrintChannel c = EmptyChannel();
  const auto* bytes = reinterpret_cast<const unsigned char*>(&c);
  EXPECT_EQ(std::count(bytes, bytes + sizeof c, 0), static_cast<long>(sizeof c));
}

TEST(Records, TextFieldWithoutTerminatorEndsAtItsArray) {
  // Two adjacent fields: a reader that runs past the first would pick up the second.
  PrintChannel c = EmptyChannel();
  std::memset(c.legacyStart, '8', sizeof c.legacyStart);
  std::memcpy(c.legacyStop, "17", 2);
  EXPECT_EQ(ReadField(c.legacyStart), "888888");

  for (auto& unit : c.headerText) unit = u'x';
  c.printerName[0] = u'P';
  EXPECT_EQ(ReadField(c.headerText), std::string(64, 'x'));
}

TEST(Records, WritingATextFieldZeroFillsAndCuts) {
  struct Case {
    std::string text;
    std::string expectRead;
    bool fits;
  };
  // A wide field of 4 units holds 3 characters and a terminator.
  const Case cases[] = {
      {"", "", true},
      {"abc", "abc", true},
      {"abcd", "abc", false},
      {"\xC3\xA4\xC3\xB6\xC3\xBC", "\xC3\xA4\xC3\xB6\xC3\xBC", true},  // äöü, one unit each
      {"a\xF0\x9F\x96\xA8", "a\xF0\x9F\x96\xA8", true},                // a + printer emoji (pair)
      {"ab\xF0\x9F\x96\xA8", "ab", false},                             // the pair is not split
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b",
       true},  // invalid UTF-8 replaced
  };
  for (const auto& tc : cases) {
    char16_t wide[4];
    std::fill(std::begin(wide), std::end(wide), u'#');
    EXPECT_EQ(WriteField(wide, tc.text), tc.fits) << tc.text;
    EXPECT_EQ(ReadField(wide), tc.expectRead) << tc.text;
    EXPECT_EQ(wide[3], u'\0') << tc.text;
  }

  char narrow[5] = {'#', '#', '#', '#', '#'};
  EXPECT_FALSE(WriteField(narrow, "[27]E"));
  EXPECT_EQ(std::string(narrow, 5), std::string("[27]\0", 5));
  EXPECT_TRUE(WriteField(narrow, "E"));
  EXPECT_EQ(std::string(narrow, 5), std::string("E\0\0\0\0", 5));
}

TEST(Records, MillimetresAndDots) {
  struct Case {
    int32_t value, dpi, mmToDots, dotsToMm;
  };
  const Case cases[] = {
      {210, 300, 2480, 18},  // A4 width; 210 dots are 17.78 mm
      {297, 600, 7015, 13},  // A4 height at 600 dpi
      {300, 300, 3543, 25},  // 300 dots at 300 dpi: one inch, 25.4 mm
      {254, 100, 1000, 65},  // 254 dots at 100 dpi are 64.5 mm: rounds up
      {5, 0, 0, 0},          // no resolution
  };
  for (const auto& tc : cases) {
    EXPECT_EQ(MmToDots(tc.value, tc.dpi), tc.mmToDots) << tc.value << " @ " << tc.dpi;
    EXPECT_EQ(DotsToMm(tc.value, tc.dpi), tc.dotsToMm) << tc.value << " @ " << tc.dpi;
  }
  EXPECT_EQ(DotsToMm(MmToDots(420, 1200), 1200), 420);  // no overflow for large sheets
}

}  // namespace
}  // namespace vellumora
