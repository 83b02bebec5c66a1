// The line-limited log file: UTF-16LE text with a fixed header, one time-stamped line a message.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace vellumora {

inline constexpr char kLogHeader[] = "Vellumora Log-File - Do NOT edit!";

class C_KLog {
 public:
  // Loads an existing file into `lines`, or creates it with the two header lines.
  explicit C_KLog(std::string fileName, LocalClock clock = NowLocal);
  C_KLog(const C_KLog&) = delete;
  C_KLog& operator=(const C_KLog&) = delete;

  // Appends one message with its "mm.dd. hh:nn   " prefix (an empty text becomes a line " "),
  // opening and closing the file around it. When the line limit is reached the oldest third
  // is cut away and the file rewritten whole. A file that cannot be opened drops the message.
  // Safe to call from several threads at once.
  void AddLine(const std::string& text);

  const std::string logFileName;
  std::atomic<int32_t> maxLines{1000};
  // Sees every message as AddLine writes it (a service also sends its lines to the journal).
  // Set before other threads log; called outside the log's lock.
  std::function<void(const std::string& text)> mirror;

  // A copy of the lines held in memory (for tests and the main window).
  std::vector<std::u16string> Lines() const;

 private:
  bool WriteWholeFile();

  LocalClock clock_;
  mutable std::mutex mutex_;
  std::vector<std::u16string> lines_;
};

// "mm.dd. hh:nn" of the given time, the prefix shared by the file and the window.
std::string DateTimePrefix(const LocalTime& t);

}  // namespace vellumora
