// Journal priority and channel of a log line.
#include "host/journal-fields.h"

#include <cstring>

namespace vellumora {

JournalFields JournalFieldsOf(const std::string& text, int32_t busyChannel) {
  JournalFields f;
  if (text.rfind("ERROR", 0) == 0)
    f.priority = JournalPriority::kError;
  else if (text.rfind("WARNING", 0) == 0)
    f.priority = JournalPriority::kWarning;
  else if (text.rfind("DEBUG-INFO", 0) == 0)
    f.priority = JournalPriority::kDebug;
  // While a channel's folder is processed, its lines are that channel's, whatever file names
  // they quote.
  if (busyChannel > 0) {
    f.channel = busyChannel;
    return f;
  }
  for (const char* word : {"channel ", "Channel "}) {
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
      std::size_t i = at + std::strlen(word);
      int32_t n = 0;
      bool digits = false;
      // Channel numbers are small: a longer run of digits is no channel number.
      while (i < text.size() && text[i] >= '0' && text[i] <= '9' && n < 100000) {
        n = n * 10 + (text[i++] - '0');
        digits = true;
      }
      if (digits && n > 0 && n < 100000) {
        f.channel = n;
        return f;
      }
    }
  }
  return f;
}

}  // namespace vellumora
