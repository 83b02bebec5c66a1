// Log lines must stay single lines of valid UTF-8, whatever bytes a file name holds.
#pragma once

#include <string>
#include <string_view>

namespace vellumora {

// Valid UTF-8 stays as it is, including non-Latin letters, blanks and quotes. Bytes that are
// not valid UTF-8, and control characters (a line break in a file name would split the log
// line), are shown as \xNN.
std::string ReadableText(std::string_view text);

}  // namespace vellumora
