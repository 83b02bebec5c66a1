// The lines of the mobile client protocol: taking lines out of the received bytes, and
// reading hello, upload announcement and size lines. Pure functions, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

inline constexpr std::string_view kHelloPrefix = "HelloVellumora ";
inline constexpr std::string_view kFileIsNextPrefix = "FileIsNext CH[";
inline constexpr std::string_view kFileSizePrefix = "FileSize ";

// Leading and trailing blanks and control characters removed.
std::string TrimLine(std::string_view line);
// Letters compared without regard to ASCII case.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
bool HasControlCharacters(std::string_view text);

// Collects received bytes and hands out complete lines: up to a line feed, a carriage return
// before it dropped. A line longer than the limit is an error; bytes after a line stay for
// the next line or for the raw data that follows it.
class LineBuffer {
 public:
  explicit LineBuffer(std::size_t maxLine) : maxLine_(maxLine) {}
  void Append(const char* data, std::size_t size) { pending_.append(data, size); }
  enum class Result { kLine, kNeedMore, kTooLong };
  Result Next(std::string* line);
  // Takes up to `size` of the bytes held after the last line.
  std::string TakeRaw(std::size_t size);
  std::size_t held() const { return pending_.size(); }

 private:
  std::size_t maxLine_;
  std::string pending_;
};

// "HelloVellumora " + name + "#" + PIN: the name is the text up to the first "#" (empty when
// there is none), the PIN the up to six characters after it.
struct HelloLine {
  std::string name;
  std::string pin;
};
HelloLine ParseHello(std::string_view line);

// "FileIsNext CH[" + channel + "] " + file name. nullopt when the "]" is missing.
struct FileAnnouncement {
  std::string channel;   // trimmed text between "[" and the first "]"
  std::string fileName;  // from two characters after the "]", at most 250 characters
};
std::optional<FileAnnouncement> ParseFileIsNext(std::string_view line);

// The byte count of "FileSize " + number (at most 20 characters of it are read); 0 for text
// that is not a whole number, or one too large to hold.
int64_t ParseFileSize(std::string_view line);

// The file name an upload may be stored under: the part after the last "/" or "\", without
// control characters and leading dots, at most `maxBytes` long (never cutting a UTF-8
// character); "" when nothing usable is left.
std::string PlainFileName(std::string_view name, std::size_t maxBytes = 250);
// The n-th name to try for a file (n from 1): the name itself, then "stem (2).ext", ...
std::string NumberedName(const std::string& name, int n);

// The name of a channel as a client sees it: the last component of its input folder, trimmed.
std::string ChannelNameOfFolder(std::string_view folder);

// A client's channel list "1,3" as channel numbers; parts that are not numbers are skipped.
std::vector<int32_t> ChannelNumbers(std::string_view list);

}  // namespace vellumora
