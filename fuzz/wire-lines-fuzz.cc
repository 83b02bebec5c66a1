// Fuzz target: the mobile protocol's line parsers. Whatever arrives, a line never exceeds its
// limit, an upload's file name is a plain name and never a way out of its folder.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mobile/wire-lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vellumora;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  LineBuffer buffer(1024);
  buffer.Append(bytes.data(), bytes.size());
  std::string line;
  while (buffer.Next(&line) == LineBuffer::Result::kLine) {
    if (line.size() > 1024) std::abort();
    const std::string text = TrimLine(line);
    ParseHello(text);
    if (ParseFileSize(text) < 0) std::abort();
    if (auto a = ParseFileIsNext(text)) {
      if (a->fileName.size() > 250) std::abort();
      const std::string name = PlainFileName(a->fileName);
      if (name.size() > 250 || name.find_first_of("/\\") != std::string::npos ||
          (!name.empty() && name[0] == '.') || HasControlCharacters(name))
        std::abort();
      if (NumberedName(name, 7).find('/') != std::string::npos) std::abort();
    }
    ChannelNumbers(text);
    ChannelNameOfFolder(text);
  }
  return 0;
}
