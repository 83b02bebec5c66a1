// Millimetre and printer-dot conversions, in the integer arithmetic every layout relies on.
#pragma once

#include <cstdint>

namespace vellumora {

// mm · dpi · 10 / 254, truncated. Computed wide enough for any pair of 32-bit values (records
// read from files may hold anything); a result outside 32 bits wraps.
constexpr int32_t MmToDots(int32_t mm, int32_t dpi) {
  return static_cast<int32_t>(static_cast<__int128>(mm) * dpi * 10 / 254);
}

// a - b, wrapping instead of overflowing.
constexpr int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<int64_t>(a) - b);
}

// (dots · 254 + dpi · 5) / (dpi · 10), i.e. rounded to the nearest millimetre; 0 when dpi is 0.
constexpr int32_t DotsToMm(int32_t dots, int32_t dpi) {
  if (dpi == 0) return 0;
  return static_cast<int32_t>((static_cast<int64_t>(dots) * 254 + static_cast<int64_t>(dpi) * 5) /
                              (static_cast<int64_t>(dpi) * 10));
}

}  // namespace vellumora
