// A text file as the lines it prints: line ends, form feeds, and where an overlong line breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

struct TextLine {
  std::size_t begin = 0, end = 0;  // characters [begin, end) of the text, without the line end
  int32_t pageBreaks = 0;          // form feeds between the line before and this one
};

// The lines of `text`: they end at CR LF, LF or CR, and a line break at the very end gives no
// extra empty line. A form feed ends the line it is in as well and makes the next line start
// a new page; a part of a line that is empty because it borders on a form feed is no line.
std::vector<TextLine> SplitTextLines(std::u32string_view text);

// The length of the segment [begin, end) of `line` once it is fitted into `width`, where the
// width of characters [a, b) is offsets[b] − offsets[a] (offsets never decrease):
// while the segment is wider, it is cut just before its last blank at its 5th character or
// later, or, when there is none, loses its last character. The same result as applying that
// rule step by step, found by a binary search over the offsets.
std::size_t FitSegment(std::u32string_view line, const std::vector<double>& offsets,
                       std::size_t begin, std::size_t end, double width);

}  // namespace vellumora
