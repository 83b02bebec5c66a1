// ShowStatusLine: the procedure installed as the kernel's logCallback. It time-stamps a
// message, drops an immediate repetition and passes it to the log file and the window.
#pragma once

#include <mutex>
#include <string>

#include "platform/clock.h"

namespace vellumora {

class C_KLog;

// The window side of the status line: the main window, or the console of a headless run.
class StatusWindow {
 public:
  virtual ~StatusWindow() = default;
  // displayLine carries the "mm.dd. hh:nn  " prefix; text is the message as sent.
  virtual void ShowLine(const std::string& displayLine, const std::string& text,
                        bool replaceLast) = 0;
};

class StatusLine {
 public:
  explicit StatusLine(C_KLog* log, LocalClock clock = NowLocal);

  // Safe to call from several threads at once (the mobile server sends messages too).
  void Show(const std::string& text, bool replaceLast);

  // Where messages go besides the file; none (nullptr) means the file only.
  void SetWindow(StatusWindow* window);
  // In service mode messages reach the log file only, whatever window is set.
  void SetServiceMode(bool on);

 private:
  C_KLog* log_;
  LocalClock clock_;
  std::mutex mutex_;
  std::string previous_;
  StatusWindow* window_ = nullptr;
  bool serviceMode_ = false;
};

}  // namespace vellumora
