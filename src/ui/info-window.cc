// TFormInfo: the borderless message and yes/no window whose questions wait while the
// application keeps running.
#include "ui/info-window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "kernel/kernel.h"
#include "ui/qt-bitmap.h"

namespace vellumora::ui {

namespace {

// Windows colour values are 0x00BBGGRR.
const QColor kBackground = WinColor(8355711);  // dark grey
const QColor kPleaseWait = WinColor(6447871);  // light red
const QColor kComment = WinColor(13302015);    // pale yellow
const QColor kMessageError = WinColor(255);    // red
const QColor kMessageNote = WinColor(65535);   // yellow
const QColor kMessagePlain = Qt::white;

constexpr int kDesignWidth = 495;
constexpr int kDesignHeight = 78;
constexpr int kTextLeft = 80;  // right of the 68 x 68 picture
constexpr int kMessageTopWithComment = 14;
constexpr int kMessageTopAlone = 21;
constexpr int kCommentTop = 48;
constexpr int kButtonWidth = 70;
constexpr int kButtonHeight = 44;
constexpr int kButtonTop = 17;
constexpr int kCloseSize = 24;

void SetTextColor(QLabel* label, const QColor& color) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
}

void SetButtonColors(QPushButton* button, const QString& background) {
  button->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white; "
                                       "font-weight: bold; border: none; }")
                            .arg(background));
}

bool StopPending() {
  return stopRequested.load() != 0 || quitRequested.load() != 0;
}

}  // namespace

TFormInfo::TFormInfo(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("TFormInfo"));
  setWindowTitle(QStringLiteral("Vellumora"));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kBackground);
  setPalette(palette);
  setAutoFillBackground(true);
  resize(kDesignWidth, kDesignHeight);

  Image1_ = new QLabel(this);
  Image1_->setObjectName(QStringLiteral("Image1"));
  Image1_->setGeometry(5, 5, 68, 68);
  Image1_->setAlignment(Qt::AlignCenter);

  Label1_ = new QLabel(this);
  Label1_->setObjectName(QStringLiteral("Label1"));
  QFont large = Label1_->font();
  large.setPixelSize(22);
  large.setBold(true);
  Label1_->setFont(large);
  Label1_->move(kTextLeft, kMessageTopAlone);
  SetTextColor(Label1_, kMessagePlain);

  LBcomment_ = new QLabel(this);
  LBcomment_->setObjectName(QStringLiteral("LBcomment"));
  QFont small = LBcomment_->font();
  small.setPixelSize(13);
  LBcomment_->setFont(small);
  LBcomment_->move(kTextLeft, kCommentTop);
  SetTextColor(LBcomment_, kComment);

  Label2_ = new QLabel(QStringLiteral("Please wait ...."), this);
  Label2_->setObjectName(QStringLiteral("Label2"));
  QFont wait = Label2_->font();
  wait.setPixelSize(14);
  Label2_->setFont(wait);
  Label2_->adjustSize();
  SetTextColor(Label2_, kPleaseWait);

  BNclose_ = new QPushButton(QStringLiteral("X"), this);
  BNclose_->setObjectName(QStringLiteral("BNclose"));
  BNclose_->resize(kCloseSize, kCloseSize);
  BNclose_->setFocusPolicy(Qt::NoFocus);
  connect(BNclose_, &QPushButton::clicked, this, [this] { BNcloseClick(); });

  BNyes_ = new QPushButton(QStringLiteral("YES"), this);
  BNyes_->setObjectName(QStringLiteral("BNyes"));
  BNyes_->resize(kButtonWidth, kButtonHeight);
  SetButtonColors(BNyes_, QStringLiteral("#008080"));  // teal
  BNyes_->hide();
  connect(BNyes_, &QPushButton::clicked, this, [this] { BNyesClick(); });

  BNno_ = new QPushButton(QStringLiteral("NO"), this);
  BNno_->setObjectName(QStringLiteral("BNno"));
  BNno_->resize(kButtonWidth, kButtonHeight);
  SetButtonColors(BNno_, QStringLiteral("#FF0000"));
  BNno_->hide();
  connect(BNno_, &QPushButton::clicked, this, [this] { BNnoClick(); });

  Timer_ = new QTimer(this);
  Timer_->setObjectName(QStringLiteral("Timer"));
  Timer_->setInterval(5000);
  Timer_->setSingleShot(true);
  connect(Timer_, &QTimer::timeout, this, [this] { TimerTimer(); });
}

char TFormInfo::Ask(const QString& message, int timeoutSeconds, const QString& comment, int kind) {
  // Show, or bring to the front when an earlier Ask is still waiting.
  if (isVisible()) {
    raise();
    activateWindow();
  } else {
    show();
  }

  // The message; the kind ranges fold into their kinds.
  const QIcon icon = QApplication::windowIcon();
  Image1_->setPixmap(
      (icon.isNull() ? style()->standardIcon(QStyle::SP_MessageBoxInformation) : icon)
          .pixmap(64, 64));
  Label1_->setText(message);
  Label1_->adjustSize();
  SetTextColor(Label1_, kMessagePlain);
  Label2_->show();
  if (kind >= 8000)
    kind = kAskQuestion;
  else if (kind >= 7000)
    kind = kAskError;

  // The width follows the message; the buttons hang from the right edge.
  const int width = Label1_->width() + 260 + (kind == kAskQuestion ? 30 : 0);
  resize(width, kDesignHeight);
  if (const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.x() + (area.width() - width) / 2, area.y() + (area.height() - kDesignHeight) / 2);
  }
  BNclose_->move(width - 30, 5);
  BNyes_->move(width - 5 - BNyes_->width(), kButtonTop);
  BNno_->move(BNyes_->x() - 5 - BNno_->width(), kButtonTop);
  Label2_->move(BNno_->x(), kButtonTop + (kButtonHeight - Label2_->height()) / 2);
  LBcomment_->setText(comment);
  LBcomment_->adjustSize();
  Label1_->move(kTextLeft, comment.isEmpty() ? kMessageTopAlone : kMessageTopWithComment);

  // No answer yet; the kind picks the colours and the buttons.
  answer_ = kAnswerNone;
  BNclose_->show();
  BNyes_->hide();
  BNno_->hide();
  if (kind == kAskError) {
    SetTextColor(Label1_, kMessageError);
    Label2_->hide();
  } else if (kind == kAskNote) {
    SetTextColor(Label1_, kMessageNote);
  } else if (kind == kAskQuestion) {
    Label2_->hide();
    BNyes_->show();
    BNno_->show();
    BNclose_->hide();
  }

  // One time-out run, or none. Capped so that seconds x 1000 cannot overflow.
  if (timeoutSeconds < 1) {
    Timer_->stop();
  } else {
    Timer_->setInterval(std::min(timeoutSeconds, INT_MAX / 1000) * 1000);
    Timer_->start();
  }

  // Wait while the window shows, nobody answered and no stop is pending.
  ++waits_;
  QCoreApplication::processEvents();
  if (answerHook && answer_ == kAnswerNone && isVisible() && !StopPending()) {
    const char hooked = answerHook(*this);
    if (hooked != kAnswerNone && answer_ == kAnswerNone) answer_ = hooked;
  }
  while (isVisible() && answer_ == kAnswerNone && !StopPending()) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // A stop wins over an answer given in the same moment: nothing is consented to while the
  // program stops.
  const char result = StopPending() ? kAnswerNone : answer_;

  // The last Ask to end hides the window; an earlier one still waiting ends with the same
  // answer as soon as it runs again.
  if (--waits_ == 0) {
    Timer_->stop();
    hide();
  }
  return result;
}

void TFormInfo::BNyesClick() {
  answer_ = kAnswerYes;
}

void TFormInfo::BNnoClick() {
  answer_ = kAnswerNo;
}

void TFormInfo::BNcloseClick() {
  answer_ = kAnswerClosed;
}

void TFormInfo::TimerTimer() {
  Timer_->stop();
  answer_ = kAnswerClosed;
}

void TFormInfo::closeEvent(QCloseEvent* event) {
  // Closed by the window manager (Alt+F4 and the like): the same as the close button.
  if (answer_ == kAnswerNone) answer_ = kAnswerClosed;
  QWidget::closeEvent(event);
}

}  // namespace vellumora::ui
