// The weekday schedule frame: typing and leaving its time edits, and loading and storing a day.
#include "ui/schedule-frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QTest>
#include <cstring>
#include <memory>
#include <string>

#include "kernel/print-channel.h"

namespace vellumora::ui {
namespace {

QLineEdit* EditByName(TFrameStartStopTime& frame, const std::string& name) {
  return frame.findChild<QLineEdit*>(QString::fromStdString(name));
}

void Leave(QLineEdit* edit) {
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(edit, &leave);
}

std::string Day(const PrintChannel& channel, int day) {
  return std::string(channel.schedule[day], kScheduleEntrySize);
}

TEST(ScheduleFrame, TypedTimesAreLimitedAndWrittenWithTwoDigits) {
  const struct {
    const char* edit;
    const char* typed;
    const char* shown;
  } cases[] = {
      {"ED1", "25", "00"}, {"ED1", "23", "23"}, {"ED3", "24", "00"}, {"ED2", "60", "00"},
      {"ED2", "59", "59"}, {"ED4", "60", "00"}, {"ED1", "07", "07"}, {"ED1", "ab", "00"},
      {"ED3", "1a", "00"}, {"ED2", "-1", "00"}, {"ED1", "7", "7"},  // one character waits
  };
  TFrameStartStopTime frame(nullptr, 0);
  for (const auto& c : cases) {
    QLineEdit* edit = EditByName(frame, c.edit);
    ASSERT_NE(edit, nullptr) << c.edit;
    edit->clear();
    QTest::keyClicks(edit, QString::fromLatin1(c.typed));
    EXPECT_EQ(edit->text().toStdString(), c.shown) << c.edit << " typed " << c.typed;
    EXPECT_EQ(edit->cursorPosition(), edit->text().size()) << c.edit << " typed " << c.typed;
  }
}

TEST(ScheduleFrame, LeavingAShortEditFillsItToTwoDigits) {
  const struct {
    const char* edit;
    const char* text;
    const char* shown;
  } cases[] = {
      {"ED1", "9", "09"}, {"ED2", "", "00"},   {"ED3", "x", "00"},
      {"ED4", "7", "07"}, {"ED1", "15", "15"},
  };
  TFrameStartStopTime frame(nullptr, 2);
  for (const auto& c : cases) {
    QLineEdit* edit = EditByName(frame, c.edit);
    edit->setText(QString::fromLatin1(c.text));
    Leave(edit);
    EXPECT_EQ(edit->text().toStdString(), c.shown) << c.edit << " held '" << c.text << "'";
  }
}

TEST(ScheduleFrame, OnlyTheStopMinutesRefuseLetters) {
  TFrameStartStopTime frame(nullptr, 0);
  frame.ED4->clear();
  QTest::keyClicks(frame.ED4, QStringLiteral("a5b"));
  EXPECT_EQ(frame.ED4->text(), QStringLiteral("5"));
  frame.ED1->clear();
  QTest::keyClicks(frame.ED1, QStringLiteral("a"));
  EXPECT_EQ(frame.ED1->text(), QStringLiteral("a"));
}

TEST(ScheduleFrame, AnOvernightDayIsShownAndStoredBackUnchanged) {
  auto channel = std::make_unique<PrintChannel>();
  for (int d = 0; d < kScheduleDays; ++d) std::memcpy(channel->schedule[d], "08:15 17:45 ", 12);
  std::memcpy(channel->schedule[4], "22:00 06:00 ", 12);
  channel->dayActive[4] = 1;

  TFrameStartStopTime frame(nullptr, 4);
  frame.LoadDay(*channel);
  EXPECT_EQ(frame.ED1->text(), QStringLiteral("22"));
  EXPECT_EQ(frame.ED2->text(), QStringLiteral("00"));
  EXPECT_EQ(frame.ED3->text(), QStringLiteral("06"));
  EXPECT_EQ(frame.ED4->text(), QStringLiteral("00"));
  EXPECT_TRUE(frame.CB->isChecked());

  auto stored = std::make_unique<PrintChannel>(*channel);
  frame.StoreDay(*stored);
  EXPECT_EQ(std::memcmp(stored.get(), channel.get(), sizeof(PrintChannel)), 0);

  // An inactive day loads as an unchecked box and stores as 0.
  channel->dayActive[4] = 0;
  frame.LoadDay(*channel);
  EXPECT_FALSE(frame.CB->isChecked());
  stored->dayActive[4] = 1;
  frame.StoreDay(*stored);
  EXPECT_EQ(stored->dayActive[4], 0);
}

TEST(ScheduleFrame, AShortEditIsStoredZeroFilledWithinItsDay) {
  auto channel = std::make_unique<PrintChannel>();
  std::memset(channel->schedule, 'X', sizeof channel->schedule);
  std::memset(channel->dayActive, 7, sizeof channel->dayActive);

  TFrameStartStopTime frame(nullptr, 6);
  frame.ED1->setText(QStringLiteral("1"));
  frame.ED4->setText(QString());
  frame.StoreDay(*channel);
  EXPECT_EQ(Day(*channel, 6), std::string("1:30 00: \0\0\0", 12));
  EXPECT_EQ(Day(*channel, 5), std::string(12, 'X'));
  EXPECT_EQ(channel->dayActive[6], 1);
  EXPECT_EQ(channel->dayActive[5], 7);
}

TEST(ScheduleFrame, AZeroByteInAStoredDayEndsThatTime) {
  auto channel = std::make_unique<PrintChannel>();
  std::memcpy(channel->schedule[1],
              "2\0:30 0\0:\xFF"
              "5 ",
              12);
  TFrameStartStopTime frame(nullptr, 1);
  frame.LoadDay(*channel);
  EXPECT_EQ(frame.ED1->text(), QStringLiteral("2"));
  EXPECT_EQ(frame.ED2->text(), QStringLiteral("30"));
  EXPECT_EQ(frame.ED3->text(), QStringLiteral("0"));
  EXPECT_EQ(frame.ED4->text(), QStringLiteral("00"));  // two characters, not a number
}

TEST(ScheduleFrame, ACreatedFrameShowsItsDayAndTheStartTimes) {
  const struct {
    int day;
    const char* name;
    bool ownColour;
    QColor colour;
  } cases[] = {
      {0, "Monday", false, {}},
      {5, "Saturday", true, QColor(128, 0, 0)},
      {6, "Sunday", true, QColor(255, 0, 0)},
  };
  const QColor standard =
      TFrameStartStopTime(nullptr, 2).LBday->palette().color(QPalette::WindowText);
  for (const auto& c : cases) {
    TFrameStartStopTime frame(nullptr, c.day);
    EXPECT_EQ(frame.objectName(), QStringLiteral("Day%1").arg(c.day));
    EXPECT_EQ(frame.size(), QSize(62, 84));
    auto* label = frame.findChild<QLabel*>(QStringLiteral("LBday"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text().toStdString(), c.name);
    EXPECT_STREQ(WeekdayName(c.day), c.name);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), c.ownColour ? c.colour : standard)
        << c.name;
    auto* box = frame.findChild<QCheckBox*>(QStringLiteral("CB"));
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isChecked());
    EXPECT_FALSE(box->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(frame.ED1->text(), QStringLiteral("12"));
    EXPECT_EQ(frame.ED2->text(), QStringLiteral("30"));
    EXPECT_EQ(frame.ED3->text(), QStringLiteral("00"));
    EXPECT_EQ(frame.ED4->text(), QStringLiteral("00"));
    EXPECT_EQ(frame.ED1->palette().color(QPalette::Base), QColor(194, 235, 197));
    EXPECT_EQ(frame.ED3->palette().color(QPalette::Base), QColor(255, 202, 202));
  }
  EXPECT_STREQ(WeekdayName(7), "");
  EXPECT_STREQ(WeekdayName(-1), "");
}

}  // namespace
}  // namespace vellumora::ui
