// Raw printing: the file goes to the printer unchanged as one job per copy, framed by the
// channel's start and stop codes.
#pragma once

#include <string>
#include <string_view>

namespace vellumora {

// The bytes of a control code in bracket notation: "[27]E" is ESC E. A "[" without a closing
// "]" voids the whole code. The result ends before its first zero byte, as it is sent.
std::string ExpandControlCodes(std::string_view text);

}  // namespace vellumora
