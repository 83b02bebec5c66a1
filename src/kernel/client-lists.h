// The mobile client list files: one entry per line, CR LF. Written in the encoding they were
// read in: UTF-8 without byte order mark by default, or with the mark they came with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

enum class TextEncoding { Utf8, Utf8Bom, Utf16LeBom, Utf16BeBom };

struct ClientListFile {
  std::vector<std::string> entries;  // UTF-8
  TextEncoding encoding = TextEncoding::Utf8;
};

// Decodes the bytes of a list file; a trailing line break does not make an extra entry.
ClientListFile ParseClientList(std::string_view bytes);
// Encodes the entries, each followed by CR LF, in the given encoding.
std::string ClientListBytes(const std::vector<std::string>& entries, TextEncoding encoding);

inline constexpr const char* kClientNamesFile = "MobileClientNames.lst";
inline constexpr const char* kClientPinsFile = "MobileClientPINs.lst";
inline constexpr const char* kClientChannelsFile = "MobileClientChannels.lst";

}  // namespace vellumora
