// Text form of the printer defaults block's slot values.
#include "platform/cups/defaults-slot.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace vellumora::printers {

namespace {

// The whole of `text` as a decimal int32; false for anything else.
bool ParseInt(std::string_view text, int32_t* value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

DefaultValue DecodeResolution(std::string_view text) {
  DefaultValue v;
  const std::size_t cross = text.find('x');
  if (cross == std::string_view::npos) return v;
  std::string_view down = text.substr(cross + 1);
  const std::size_t digits = std::min(down.find_first_not_of("0123456789"), down.size());
  const std::string_view units = down.substr(digits);
  if (!ParseInt(text.substr(0, cross), &v.x) || !ParseInt(down.substr(0, digits), &v.y) ||
      !(units.empty() || units == "dpi" || units == "dpcm"))
    return DefaultValue{};
  v.perCm = units == "dpcm";
  v.kind = DefaultValue::Kind::kResolution;
  return v;
}

}  // namespace

void EncodeSlotValue(const DefaultValue& value, std::span<char, kSlotValue> out) {
  std::fill(out.begin(), out.end(), '\0');
  std::string text;
  switch (value.kind) {
    case DefaultValue::Kind::kInteger:
    case DefaultValue::Kind::kEnum:
      text = std::to_string(value.number);
      break;
    case DefaultValue::Kind::kKeyword:
    case DefaultValue::Kind::kName:
      text = value.text;
      break;
    case DefaultValue::Kind::kResolution:
      text =
          std::to_string(value.x) + "x" + std::to_string(value.y) + (value.perCm ? "dpcm" : "dpi");
      break;
    case DefaultValue::Kind::kNone:
      return;
  }
  if (text.size() > kSlotTextMax || text.find('\0') != std::string::npos) return;
  out[0] = static_cast<char>(value.kind);
  std::memcpy(out.data() + 1, text.data(), text.size());
}

DefaultValue DecodeSlotValue(std::span<const char, kSlotValue> in) {
  const std::string_view text(in.data() + 1, strnlen(in.data() + 1, kSlotTextMax));
  DefaultValue v;
  switch (in[0]) {
    case 'i':
    case 'e':
      if (!ParseInt(text, &v.number)) return DefaultValue{};
      v.kind = static_cast<DefaultValue::Kind>(in[0]);
      return v;
    case 'k':
    case 'n':
      if (text.empty()) return DefaultValue{};
      v.kind = static_cast<DefaultValue::Kind>(in[0]);
      v.text = std::string(text);
      return v;
    case 'r':
      return DecodeResolution(text);
    default:
      return DefaultValue{};
  }
}

}  // namespace vellumora::printers
