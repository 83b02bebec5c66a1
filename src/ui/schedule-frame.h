// TFrameStartStopTime: one weekday of a channel's weekly schedule, with its on/off box and its
// start and stop time as four two-digit edits. The channel page shows seven of them.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <cstdint>

#include "kernel/print-channel.h"

namespace vellumora::ui {

class TFrameStartStopTime : public QFrame {
 public:
  // Day 0 is Monday, 6 Sunday; the frame is named "Day" + index. The start reads 12:30 and
  // the stop 00:00 until a channel is loaded.
  TFrameStartStopTime(QWidget* owner, int32_t dayIndex);

  // The change handler of the four edits: two characters are read as a number, limited to
  // 0..23 (hours) or 0..59 (minutes), 0 otherwise, and written back with two digits.
  void ED1Change(QLineEdit* edit);
  // The leave handler: an edit with fewer than two characters is read and written the same way.
  void ED1Exit(QLineEdit* edit);

  // The day's part of the channel: edits from schedule[day] positions 0, 3, 6 and 9, the box
  // from dayActive[day].
  void LoadDay(const PrintChannel& channel);
  // Writes "hh:mm hh:mm " into schedule[day], zero-filled to 12 bytes when an edit is short,
  // and the box into dayActive[day].
  void StoreDay(PrintChannel& channel) const;

  int32_t dayIndex() const { return dayIndex_; }

  QLabel* LBday;
  QCheckBox* CB;
  QLabel* Label1;
  QLineEdit* ED1;
  QLineEdit* ED2;
  QLineEdit* ED3;
  QLineEdit* ED4;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int32_t dayIndex_;
};

// The weekday names by index, "Monday" … "Sunday".
const char* WeekdayName(int32_t dayIndex);

}  // namespace vellumora::ui
