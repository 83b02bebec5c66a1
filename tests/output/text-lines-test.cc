// Reading text files into lines: encodings, line ends, form feeds, and the breaking rule of
// overlong lines against its literal step-by-step form.
#include "output/text-lines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/text-encoding.h"

namespace vellumora {
namespace {

TEST(DecodeText, ByteOrderMarkValidUtf8OrWindows1252) {
  struct Case {
    const char* what;
    std::string bytes;
    std::u32string text;
    TextFileEncoding encoding;
  };
  const Case cases[] = {
      {"plain UTF-8", "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80", U"grüß 😀", TextFileEncoding::kUtf8},
      {"UTF-8 with its mark", "\xEF\xBB\xBFok", U"ok", TextFileEncoding::kUtf8},
      {"UTF-8 mark, broken byte",
       "\xEF\xBB\xBF"
       "a\xFF"
       "b",
       U"a\uFFFDb", TextFileEncoding::kUtf8},
      {"UTF-16LE",
       std::string("\xFF\xFE"
                   "A\0\xFC\0=\xD8\0\xDE",
                   10),
       U"Aü😀", TextFileEncoding::kUtf16Le},
      {"UTF-16BE", std::string("\xFE\xFF\0A\0\xFC", 6), U"Aü", TextFileEncoding::kUtf16Be},
      {"UTF-16LE lone surrogate",
       std::string("\xFF\xFE"
                   "\0\xD8"
                   "B\0",
                   6),
       U"\uFFFDB", TextFileEncoding::kUtf16Le},
      {"UTF-16LE odd last byte",
       std::string("\xFF\xFE"
                   "A\0B",
                   5),
       U"A\uFFFD", TextFileEncoding::kUtf16Le},
      {"Windows-1252", "caf\xE9 \x80 \x93q\x94", U"café € “q”", TextFileEncoding::kWindows1252},
      {"Windows-1252 undefined byte", "a\x81z\xE9", U"a\uFFFDzé", TextFileEncoding::kWindows1252},
      {"cut UTF-8 sequence is Windows-1252", "ab\xC3", U"abÃ", TextFileEncoding::kWindows1252},
      {"empty", "", U"", TextFileEncoding::kUtf8},
  };
  for (const Case& c : cases) {
    const DecodedText d = DecodeText(c.bytes);
    EXPECT_EQ(d.text, c.text) << c.what;
    EXPECT_EQ(d.encoding, c.encoding) << c.what;
  }
}

std::vector<std::u32string> Lines(std::u32string_view text, std::vector<int32_t>* breaks) {
  std::vector<std::u32string> out;
  for (const TextLine& l : SplitTextLines(text)) {
    out.emplace_back(text.substr(l.begin, l.end - l.begin));
    breaks->push_back(l.pageBreaks);
  }
  return out;
}

TEST(SplitTextLines, LineEndsAndFormFeeds) {
  struct Case {
    std::u32string text;
    std::vector<std::u32string> lines;
    std::vector<int32_t> breaks;
  };
  const Case cases[] = {
      {U"", {}, {}},
      {U"a", {U"a"}, {0}},
      {U"a\r\nb\nc\rd", {U"a", U"b", U"c", U"d"}, {0, 0, 0, 0}},
      // A last line break gives no extra line; empty lines in between stay.
      {U"a\n", {U"a"}, {0}},
      {U"a\n\n\nb\r\n\r\n", {U"a", U"", U"", U"b", U""}, {0, 0, 0, 0, 0}},
      {U"\n", {U""}, {0}},
      // CR CR LF: an empty line between.
      {U"a\r\r\nb", {U"a", U"", U"b"}, {0, 0, 0}},
      // Form feeds: at a line start, in a line, before a line end, twice, at the very end.
      {U"p1\n\fp2", {U"p1", U"p2"}, {0, 1}},
      {U"p1\fp2", {U"p1", U"p2"}, {0, 1}},
      {U"p1\f\np2", {U"p1", U"p2"}, {0, 1}},
      {U"p1\n\f\n\fp3\n", {U"p1", U"p3"}, {0, 2}},
      {U"p1\n\f", {U"p1"}, {0}},
      {U"\f", {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> breaks;
    EXPECT_EQ(Lines(c.text, &breaks), c.lines);
    EXPECT_EQ(breaks, c.breaks);
  }
}

// The rule as it reads: measure, and while too wide cut back to the last blank at the 5th
// character or later, or drop the last character, and measure again.
std::size_t LiteralFit(std::u32string_view line, const std::vector<double>& offsets,
                       std::size_t begin, std::size_t end, double width) {
  std::size_t length = end - begin;
  auto at = [&](std::size_t k) { return line[begin + k - 1]; };  // the k-th character
  while (length > 0 && offsets[begin + length] - offsets[begin] > width) {
    std::size_t k = length;
    while (k > 5 && at(k) != U' ') --k;
    if (at(k) == U' ')
      length = k - 1;
    else
      --length;
  }
  return length;
}

TEST(FitSegment, GivesTheBreaksOfTheLiteralRule) {
  std::mt19937 random(20260307);
  for (int round = 0; round < 3000; ++round) {
    // Words and runs of blanks, some widths of 0 (marks, control characters).
    std::u32string line;
    const int n = std::uniform_int_distribution<int>(0, 120)(random);
    const int blankEvery = std::uniform_int_distribution<int>(1, 30)(random);
    for (int i = 0; i < n; ++i)
      line += std::uniform_int_distribution<int>(0, blankEvery)(random) == 0 ? U' ' : U'x';
    std::vector<double> offsets(line.size() + 1, 0.0);
    for (std::size_t i = 0; i < line.size(); ++i)
      offsets[i + 1] = offsets[i] + std::uniform_int_distribution<int>(0, 9)(random) * 0.75;
    const std::size_t begin = line.empty() ? 0 : random() % (line.size() + 1);
    const double width = std::uniform_int_distribution<int>(-1, 60)(random) * 0.9;
    EXPECT_EQ(FitSegment(line, offsets, begin, line.size(), width),
              LiteralFit(line, offsets, begin, line.size(), width))
        << "line \"" << std::string(line.begin(), line.end()) << "\" from " << begin << " width "
        << width;
  }
}

TEST(FitSegment, EdgeCasesOfTheRule) {
  // Every character 1 wide: the width is the number of characters.
  struct Case {
    std::u32string line;
    double width;
    std::size_t length;
  };
  const Case cases[] = {
      {U"fits whole", 10, 10},
      {U"alpha beta gamma", 12, 10},  // cut before the last blank that leaves a fit
      {U"abcdefghijkl", 5, 5},        // a long word loses characters until it fits
      {U"ab cdefghijkl", 6, 6},       // a blank among the first 4 is no break point...
      {U"ab cdefghijkl", 2, 2},       // ...until the segment has shrunk that far
      {U"abcd efghij", 6, 4},         // the blank at the 5th character is one
      {U"abc", 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<double> offsets(c.line.size() + 1);
    for (std::size_t i = 0; i <= c.line.size(); ++i) offsets[i] = static_cast<double>(i);
    EXPECT_EQ(FitSegment(c.line, offsets, 0, c.line.size(), c.width), c.length)
        << std::string(c.line.begin(), c.line.end());
  }
}

}  // namespace
}  // namespace vellumora
