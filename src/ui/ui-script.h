// Scripted operation of the desktop windows: when $VELLUMORA_UI_SCRIPT names a file, its
// steps are run one after the other while the application runs, as an operator would (press a
// button, answer a question, take a picture of a window). The end-to-end tests and the README's
// screenshots drive the real program this way.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>

namespace vellumora::ui {

class TFormInfo;
class TForm0;

// Steps, one a line ('#' begins a comment):
//   answer y|n            the next question of the information window gets this answer
//   click NAME            waits until the button NAME is shown and enabled, then presses it
//                         (from the event loop, so a modal dialog it opens runs the next steps)
//   type NAME TEXT        waits until the editable list or line NAME is shown and enabled,
//                         then gives it TEXT (the rest of the line) as if typed
//   close NAME            waits until the window NAME is shown, then closes it (a dialog:
//                         as its Cancel)
//   tab NAME INDEX        waits until the page control NAME shows, then selects page INDEX
//   wait-enabled NAME     waits until the widget NAME is shown and enabled
//   wait-disabled NAME    waits until it is disabled (or hidden)
//   wait-file-gone PATH   waits until PATH no longer exists
//   sleep MS              waits MS milliseconds
//   screenshot NAME PATH  saves a PNG of the window or widget NAME
//   quit                  closes the main window (which saves the settings)
// Each wait gives up after 60 s: the script then logs why and closes the main window.
class UiScript : public QObject {
 public:
  UiScript(QStringList steps, TForm0& mainWindow, TFormInfo& info);
  // Reads the file named by $VELLUMORA_UI_SCRIPT; nullptr when it is unset or unreadable.
  static UiScript* FromEnvironment(TForm0& mainWindow, TFormInfo& info);
  void Start();

 private:
  void Tick();
  bool RunStep(const QStringList& words);  // true when the step is done
  void Fail(const QString& why);

  QStringList steps_;
  TForm0& main_;
  TFormInfo& info_;
  QTimer timer_;
  qint64 stepStartedMs_ = -1;
  qint64 sleepUntilMs_ = -1;
  std::deque<char> answers_;
};

}  // namespace vellumora::ui
