// TFormInfo: the program's own borderless message and yes/no window. Its questions wait while
// the application keeps running, and tests answer them through a hook instead of a click.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace vellumora::ui {

// Kinds of Ask: 6 a note (yellow), 7 (7000..7999) an error (red), 8 (8000 and above) a
// question with YES and NO; anything else a plain message.
inline constexpr int kAskNote = 6;
inline constexpr int kAskError = 7;
inline constexpr int kAskQuestion = 8;

// The answers: YES, NO, closed or timed out, and none yet (also the answer to a stop).
inline constexpr char kAnswerYes = 'y';
inline constexpr char kAnswerNo = 'n';
inline constexpr char kAnswerClosed = '?';
inline constexpr char kAnswerNone = ' ';

class TFormInfo : public QWidget {
 public:
  explicit TFormInfo(QWidget* parent = nullptr);

  // Shows `message` (and `comment` below it) and waits, processing the application's events
  // in 10 ms steps, until a button answers, the time-out (seconds; below 1: none) runs out, the
  // window is hidden or a stop is requested. Returns 'y', 'n', '?' or ' '. An Ask made while
  // another waits reuses the window, and both end with the same answer.
  char Ask(const QString& message, int timeoutSeconds, const QString& comment, int kind);

  // Tests and scripted runs: called once the window shows a question, laid out as the user
  // would see it. A non-blank answer ends the wait with it; a blank one lets Ask wait as usual.
  std::function<char(TFormInfo& window)> answerHook;

  // The answer of the window: ' ' while none has been given.
  char answer() const { return answer_; }

  void BNyesClick();
  void BNnoClick();
  void BNcloseClick();
  void TimerTimer();

 protected:
  void closeEvent(QCloseEvent* event) override;  // closed by the window manager: as BNclose

 private:
  QLabel* Label1_;
  QLabel* Label2_;
  QLabel* LBcomment_;
  QLabel* Image1_;
  QPushButton* BNclose_;
  QPushButton* BNyes_;
  QPushButton* BNno_;
  QTimer* Timer_;
  char answer_ = kAnswerNone;
  int waits_ = 0;  // Ask calls now waiting
};

}  // namespace vellumora::ui
