// Splitting a text into lines and fitting line segments between the margins.
#include "output/text-lines.h"

namespace vellumora {

std::vector<TextLine> SplitTextLines(std::u32string_view text) {
  std::vector<TextLine> lines;
  int32_t breaks = 0;
  bool afterFormFeed = false;
  std::size_t start = 0;
  auto emit = [&](std::size_t end) {
    if (end == start && afterFormFeed) return;
    lines.push_back({start, end, breaks});
    breaks = 0;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c == U'\r' || c == U'\n') {
      emit(i);
      if (c == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') ++i;
      start = i + 1;
      afterFormFeed = false;
    } else if (c == U'\f') {
      if (i > start) emit(i);
      ++breaks;
      start = i + 1;
      afterFormFeed = true;
    }
  }
  if (start < text.size()) emit(text.size());
  return lines;
}

std::size_t FitSegment(std::u32string_view line, const std::vector<double>& offsets,
                       std::size_t begin, std::size_t end, double width) {
  auto wide = [&](std::size_t length) { return offsets[begin + length] - offsets[begin] > width; };
  const std::size_t length = end - begin;
  if (!wide(length)) return length;
  // The longest prefix that fits: every shorter one fits too.
  std::size_t fits = 0, tooWide = length;
  if (wide(0)) return 0;
  while (tooWide - fits > 1) {
    const std::size_t mid = fits + (tooWide - fits) / 2;
    (wide(mid) ? tooWide : fits) = mid;
  }
  // Cutting back blank by blank stops at the last blank (5th character or later) whose prefix
  // fits; without one, characters go one by one until the longest fitting prefix is left.
  for (std::size_t q = begin + fits; q >= begin + 4; --q) {
    if (line[q] == U' ') return q - begin;
    if (q == begin + 4) break;
  }
  return fits;
}

}  // namespace vellumora
