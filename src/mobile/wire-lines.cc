// Reading the lines of the mobile client protocol.
#include "mobile/wire-lines.h"

#include <charconv>

namespace vellumora {

namespace {

bool IsBlankOrControl(unsigned char c) { return c <= 0x20 || c == 0x7F; }
bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string TrimLine(std::string_view line) {
  std::size_t begin = 0, end = line.size();
  while (begin < end && IsBlankOrControl(static_cast<unsigned char>(line[begin]))) ++begin;
  while (end > begin && IsBlankOrControl(static_cast<unsigned char>(line[end - 1]))) --end;
  return std::string(line.substr(begin, end - begin));
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool HasControlCharacters(std::string_view text) {
  for (char c : text)
    if (IsControl(static_cast<unsigned char>(c))) return true;
  return false;
}

LineBuffer::Result LineBuffer::Next(std::string* line) {
  const std::size_t lf = pending_.find('\n');
  if (lf == std::string::npos) return pending_.size() > maxLine_ ? Result::kTooLong : Result::kNeedMore;
  if (lf > maxLine_) return Result::kTooLong;
  std::size_t end = lf;
  if (end > 0 && pending_[end - 1] == '\r') --end;
  line->assign(pending_, 0, end);
  pending_.erase(0, lf + 1);
  return Result::kLine;
}

std::string LineBuffer::TakeRaw(std::size_t size) {
  const std::size_t n = size < pending_.size() ? size : pending_.size();
  std::string raw = pending_.substr(0, n);
  pending_.erase(0, n);
  return raw;
}

HelloLine ParseHello(std::string_view line) {
  HelloLine hello;
  if (line.substr(0, kHelloPrefix.size()) != kHelloPrefix) return hello;
  const std::size_t hash = line.find('#');
  if (hash == std::string_view::npos || hash < kHelloPrefix.size()) return hello;
  hello.name = std::string(line.substr(kHelloPrefix.size(), hash - kHelloPrefix.size()));
  hello.pin = std::string(line.substr(hash + 1, 6));
  return hello;
}

std::optional<FileAnnouncement> ParseFileIsNext(std::string_view line) {
  if (line.substr(0, kFileIsNextPrefix.size()) != kFileIsNextPrefix) return std::nullopt;
  const std::size_t open = kFileIsNextPrefix.size() - 1;
  const std::size_t close = line.find(']', open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  FileAnnouncement a;
  a.channel = TrimLine(line.substr(open + 1, close - open - 1));
  // The character right after "]" (the blank) is skipped.
  if (close + 2 <= line.size()) a.fileName = std::string(line.substr(close + 2, 250));
  return a;
}

int64_t ParseFileSize(std::string_view line) {
  if (line.substr(0, kFileSizePrefix.size()) != kFileSizePrefix) return 0;
  std::string_view digits = line.substr(kFileSizePrefix.size(), 20);
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  while (!digits.empty() && digits.back() == ' ') digits.remove_suffix(1);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || value < 0) return 0;
  return value;
}

std::string PlainFileName(std::string_view name, std::size_t maxBytes) {
  const std::size_t sep = name.find_last_of("/\\");
  if (sep != std::string_view::npos) name.remove_prefix(sep + 1);
  std::string plain;
  for (char c : name)
    if (!IsControl(static_cast<unsigned char>(c))) plain.push_back(c);
  // No hidden names, and so neither "." nor "..": the scan skips nothing it was given, and a
  // hidden name could pose as the upload's own temporary file.
  std::size_t dots = 0;
  while (dots < plain.size() && plain[dots] == '.') ++dots;
  plain.erase(0, dots);
  plain = TrimLine(plain);
  if (plain.size() > maxBytes) {
    std::size_t cut = maxBytes;
    // Back up over UTF-8 continuation bytes so no character is cut in half.
    while (cut > 0 && (static_cast<unsigned char>(plain[cut]) & 0xC0) == 0x80) --cut;
    plain.resize(cut);
  }
  return plain;
}

std::string NumberedName(const std::string& name, int n) {
  if (n <= 1) return name;
  const std::size_t dot = name.find_last_of('.');
  const std::string suffix = " (" + std::to_string(n) + ")";
  if (dot == std::string::npos || dot == 0) return name + suffix;
  return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string ChannelNameOfFolder(std::string_view folder) {
  const std::size_t slash = folder.find_last_of('/');
  if (slash != std::string_view::npos && slash + 1 < folder.size()) folder.remove_prefix(slash + 1);
  return TrimLine(folder);
}

std::vector<int32_t> ChannelNumbers(std::string_view list) {
  std::vector<int32_t> numbers;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string part = TrimLine(list.substr(0, comma));
    int32_t n = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), n);
    if (ec == std::errc() && end == part.data() + part.size() && n > 0) numbers.push_back(n);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return numbers;
}

}  // namespace vellumora
