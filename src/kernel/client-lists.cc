// Parsing and writing the client list files.
#include "kernel/client-lists.h"

#include "kernel/text-fields.h"

namespace vellumora {

ClientListFile ParseClientList(std::string_view bytes) {
  ClientListFile file;
  std::string text;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    file.encoding = TextEncoding::Utf8Bom;
    text = bytes.substr(3);
  } else if (bytes.substr(0, 2) == "\xFF\xFE") {
    file.encoding = TextEncoding::Utf16LeBom;
    text = Utf16ToUtf8(DecodeUtf16(bytes.substr(2), false));
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    file.encoding = TextEncoding::Utf16BeBom;
    text = Utf16ToUtf8(DecodeUtf16(bytes.substr(2), true));
  } else {
    text = bytes;
  }
  // Lines end in CR LF, CR or LF.
  std::string line;
  bool open = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      file.entries.push_back(std::move(line));
      line.clear();
      open = false;
    } else {
      line.push_back(c);
      open = true;
    }
  }
  if (open) file.entries.push_back(std::move(line));
  return file;
}

std::string ClientListBytes(const std::vector<std::string>& entries, TextEncoding encoding) {
  std::string text;
  for (const auto& e : entries) text += e + "\r\n";
  switch (encoding) {
    case TextEncoding::Utf8:
      return text;
    case TextEncoding::Utf8Bom:
      return "\xEF\xBB\xBF" + text;
    case TextEncoding::Utf16LeBom:
      return "\xFF\xFE" + EncodeUtf16(Utf8ToUtf16(text), false);
    case TextEncoding::Utf16BeBom:
      return "\xFE\xFF" + EncodeUtf16(Utf8ToUtf16(text), true);
  }
  return text;
}

}  // namespace vellumora
