// The status line: repetition filter, then the log file and the window.
#include "kernel/status-line.h"

#include "kernel/klog.h"

namespace vellumora {

StatusLine::StatusLine(C_KLog* log, LocalClock clock) : log_(log), clock_(std::move(clock)) {}

void StatusLine::SetWindow(StatusWindow* window) {
  std::lock_guard lock(mutex_);
  window_ = window;
}

void StatusLine::SetServiceMode(bool on) {
  std::lock_guard lock(mutex_);
  serviceMode_ = on;
}

void StatusLine::Show(const std::string& text, bool replaceLast) {
  if (text.empty()) return;
  // Short texts (the banner's " ") are compared without a time prefix, so repeats of them are
  // dropped whatever the time; longer ones repeat once a minute at most.
  std::string display = text.size() < 2 ? text : DateTimePrefix(clock_()) + "  " + text;

  // One lock over filter, file and window keeps the order of lines the same in both.
  std::lock_guard lock(mutex_);
  if (display == previous_) return;
  previous_ = display;
  if (log_) log_->AddLine(text);
  if (!serviceMode_ && window_) window_->ShowLine(display, text, replaceLast);
}

}  // namespace vellumora
