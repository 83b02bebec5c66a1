// TFrameStartStopTime: one weekday's on/off box and start and stop time edits.
#include "ui/schedule-frame.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPalette>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <cstring>

#include "ui/setup-parts.h"

namespace vellumora::ui {

namespace {

constexpr int kFrameWidth = 62;
constexpr int kFrameHeight = 84;

const QColor kSaturday(128, 0, 0);
const QColor kSunday(255, 0, 0);
const QColor kCaptionGrey(128, 128, 128);
const QColor kStartBackground(194, 235, 197);
const QColor kStopBackground(255, 202, 202);

// Character positions of start hours, start minutes, stop hours and stop minutes.
constexpr int kFieldPositions[4] = {0, 3, 6, 9};

const char* const kWeekdays[kScheduleDays] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                              "Friday", "Saturday", "Sunday"};

QLineEdit* TimeEdit(const char* name, const QColor& background, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setMaxLength(2);
  edit->setAlignment(Qt::AlignCenter);
  SetColour(edit, QPalette::Base, background);
  return edit;
}

// The edit's text as a number, 0 when it is none or outside 0..limit, with two digits.
QString Normalised(const QString& text, int limit) {
  bool ok = false;
  int value = text.toInt(&ok, 10);
  if (!ok || value < 0 || value > limit) value = 0;
  return QString::asprintf("%02d", value);
}

// Two characters of a stored day at `position`; a zero byte ends the text, as the store
// fills a short day with zeros.
QString StoredField(const char (&day)[kScheduleEntrySize], int position) {
  const char* begin = day + position;
  const size_t length = ::strnlen(begin, 2);
  return QString::fromLatin1(begin, static_cast<qsizetype>(length));
}

}  // namespace

TFrameStartStopTime::TFrameStartStopTime(QWidget* owner, int32_t dayIndex)
    : QFrame(owner), dayIndex_(dayIndex) {
  setObjectName(QStringLiteral("Day%1").arg(dayIndex));
  setFixedSize(kFrameWidth, kFrameHeight);

  LBday = new QLabel(QString::fromLatin1(WeekdayName(dayIndex)), this);
  LBday->setObjectName(QStringLiteral("LBday"));
  LBday->setAlignment(Qt::AlignCenter);
  QFont small = LBday->font();
  small.setPixelSize(10);
  // "Wednesday" is the longest name: narrower letters keep it inside the frame.
  if (QFontMetrics(small).horizontalAdvance(LBday->text()) > 46) small.setStretch(QFont::SemiCondensed);
  if (QFontMetrics(small).horizontalAdvance(LBday->text()) > 46) small.setPixelSize(9);
  LBday->setFont(small);
  LBday->setGeometry(0, 2, 46, 16);
  if (dayIndex == 5) SetColour(LBday, QPalette::WindowText, kSaturday);
  if (dayIndex == 6) SetColour(LBday, QPalette::WindowText, kSunday);

  CB = new QCheckBox(this);
  CB->setObjectName(QStringLiteral("CB"));
  CB->setChecked(true);
  CB->setFocusPolicy(Qt::ClickFocus);  // Tab walks through the time edits only
  CB->setGeometry(46, 2, 16, 16);

  Label1 = new QLabel(QStringLiteral("hrs : min"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignCenter);
  small.setPixelSize(9);
  Label1->setFont(small);
  SetColour(Label1, QPalette::WindowText, kCaptionGrey);
  Label1->setGeometry(0, 20, kFrameWidth, 14);

  ED1 = TimeEdit("ED1", kStartBackground, this);
  ED2 = TimeEdit("ED2", kStartBackground, this);
  ED3 = TimeEdit("ED3", kStopBackground, this);
  ED4 = TimeEdit("ED4", kStopBackground, this);
  ED4->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), ED4));
  ED1->setGeometry(6, 36, 24, 20);
  ED2->setGeometry(32, 36, 24, 20);
  ED3->setGeometry(6, 60, 24, 20);
  ED4->setGeometry(32, 60, 24, 20);

  ED1->setText(QStringLiteral("12"));
  ED2->setText(QStringLiteral("30"));
  ED3->setText(QStringLiteral("00"));
  ED4->setText(QStringLiteral("00"));

  for (QLineEdit* edit : {ED1, ED2, ED3, ED4}) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { ED1Change(edit); });
    edit->installEventFilter(this);
  }
}

void TFrameStartStopTime::ED1Change(QLineEdit* edit) {
  if (edit == nullptr || edit->text().size() != 2) return;
  const int limit = (edit == ED1 || edit == ED3) ? 23 : 59;
  const QString value = Normalised(edit->text(), limit);
  // Writing back changes the text again; the second round finds two digits in range and
  // leaves them alone, so the text is written at most once per change.
  if (value != edit->text()) edit->setText(value);
}

void TFrameStartStopTime::ED1Exit(QLineEdit* edit) {
  if (edit == nullptr || edit->text().size() >= 2) return;
  const int limit = (edit == ED1 || edit == ED3) ? 23 : 59;
  edit->setText(Normalised(edit->text(), limit));
}

void TFrameStartStopTime::LoadDay(const PrintChannel& channel) {
  if (dayIndex_ < 0 || dayIndex_ >= kScheduleDays) return;
  const auto& day = channel.schedule[dayIndex_];
  QLineEdit* const edits[4] = {ED1, ED2, ED3, ED4};
  for (int i = 0; i < 4; ++i) edits[i]->setText(StoredField(day, kFieldPositions[i]));
  CB->setChecked(channel.dayActive[dayIndex_] != 0);
}

void TFrameStartStopTime::StoreDay(PrintChannel& channel) const {
  if (dayIndex_ < 0 || dayIndex_ >= kScheduleDays) return;
  const QByteArray text =
      (ED1->text() + u':' + ED2->text() + u' ' + ED3->text() + u':' + ED4->text() + u' ')
          .toLatin1();
  auto& day = channel.schedule[dayIndex_];
  const size_t length = std::min<size_t>(static_cast<size_t>(text.size()), sizeof day);
  std::memset(day, 0, sizeof day);
  std::memcpy(day, text.constData(), length);
  channel.dayActive[dayIndex_] = CB->isChecked() ? 1 : 0;
}

bool TFrameStartStopTime::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    for (QLineEdit* edit : {ED1, ED2, ED3, ED4}) {
      if (watched == edit) ED1Exit(edit);
    }
  }
  return QFrame::eventFilter(watched, event);
}

const char* WeekdayName(int32_t dayIndex) {
  if (dayIndex < 0 || dayIndex >= kScheduleDays) return "";
  return kWeekdays[dayIndex];
}

}  // namespace vellumora::ui
