// The log file. Every AddLine opens and closes the file, so other programs may read, move or
// delete it between messages; the next truncation rewrites it from the lines held in memory.
#include "kernel/klog.h"

#include <cstdio>

#include "kernel/text-fields.h"
#include "platform/files.h"

namespace vellumora {

namespace {

constexpr int32_t kDefaultMaxLines = 1000;
// More than the longest log the line limit allows; the rest of a larger file is not read.
constexpr std::size_t kMaxLogBytes = 64u << 20;

// Splits UTF-16LE file content into lines at CR LF, CR or LF; a leading byte order mark is
// skipped.
std::vector<std::u16string> DecodeLines(std::string_view bytes) {
  if (bytes.substr(0, 2) == "\xFF\xFE") bytes.remove_prefix(2);
  const std::u16string text = DecodeUtf16(bytes);
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    lines.emplace_back(text, start, i - start);
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text, start);
  return lines;
}

}  // namespace

std::string DateTimePrefix(const LocalTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d.%02d. %02d:%02d", t.month % 100, t.day % 100, t.hour % 100,
                t.minute % 100);
  return buf;
}

C_KLog::C_KLog(std::string fileName, LocalClock clock)
    : logFileName(std::move(fileName)), clock_(std::move(clock)) {
  if (logFileName.size() <= 2) return;
  std::string bytes;
  if (ReadRegularFile(logFileName, &bytes, nullptr, kMaxLogBytes) == ReadStatus::kRead) {
    lines_ = DecodeLines(bytes);
  } else {
    // Missing, or something other than a regular file in its place (a link someone planted
    // is replaced by a new log, never written through; a folder stays and the log drops its
    // messages).
    lines_ = {Utf8ToUtf16(kLogHeader), u" "};
    WriteWholeFile();
  }
}

std::vector<std::u16string> C_KLog::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

// Writes the lines as a new file with byte order mark; through a temporary file of a unique
// name and a rename, so a crash in the middle never leaves a half-written log behind.
bool C_KLog::WriteWholeFile() {
  std::string bytes = "\xFF\xFE";
  for (const auto& line : lines_) bytes += EncodeUtf16(line) + EncodeUtf16(u"\r\n");
  return ReplaceFile(logFileName, bytes, nullptr, true, 0664);
}

void C_KLog::AddLine(const std::string& text) {
  if (mirror) mirror(text);
  std::u16string line =
      text.empty() ? std::u16string(u" ") : Utf8ToUtf16(DateTimePrefix(clock_()) + "   " + text);

  std::lock_guard lock(mutex_);
  int32_t limit = maxLines.load();
  if (limit < 100 || limit > 10000) {
    limit = kDefaultMaxLines;
    maxLines = limit;
  }
  if (static_cast<int32_t>(lines_.size()) + 1 < limit) {
    // A file that cannot be opened drops the message; a link in its place is not followed.
    if (AppendToFile(logFileName, EncodeUtf16(line + u"\r\n"), 0664)) lines_.push_back(line);
    return;
  }
  lines_.push_back(line);
  lines_.erase(lines_.begin(), lines_.begin() + limit / 3);
  lines_.insert(lines_.begin(), {Utf8ToUtf16(kLogHeader), u" "});
  WriteWholeFile();
}

}  // namespace vellumora
