// One slot of the printer defaults block: an option name and its default value in fixed-size
// text, so that the block's length depends only on the printer's set of options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vellumora::printers {

inline constexpr std::size_t kSlotName = 32;   // the option's name, NUL-padded
inline constexpr std::size_t kSlotValue = 96;  // a type letter, then the value as text
inline constexpr std::size_t kSlotSize = kSlotName + kSlotValue;
// The value text after the type letter; it fills the rest of the slot without a terminator.
inline constexpr std::size_t kSlotTextMax = kSlotValue - 1;

// A default value as the print server reports it, with its IPP value type.
struct DefaultValue {
  enum class Kind : char {
    kNone = 0,  // no value, or none that the slot can hold: writing back leaves it alone
    kInteger = 'i',
    kEnum = 'e',
    kKeyword = 'k',
    kName = 'n',
    kResolution = 'r',
  };
  Kind kind = Kind::kNone;
  int32_t number = 0;  // integer and enum
  std::string text;    // keyword and name
  int32_t x = 0, y = 0;
  bool perCm = false;  // resolution units: dots per centimetre, else per inch

  bool operator==(const DefaultValue&) const = default;
};

// Writes `value` into a slot's value bytes (zero-filled first). A value whose text does not
// fit, or that has a NUL byte in it, is written as no value: never cut short.
void EncodeSlotValue(const DefaultValue& value, std::span<char, kSlotValue> out);

// Reads a slot's value bytes back; no value for an empty slot, an unknown type letter, or text
// that does not parse completely (a number out of range, say). Blocks stored before names had
// a letter of their own hold names under 'k' and read back as keywords.
DefaultValue DecodeSlotValue(std::span<const char, kSlotValue> in);

}  // namespace vellumora::printers
