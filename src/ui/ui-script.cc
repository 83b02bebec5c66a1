// Runs the steps of a UI script against the real windows.
#include "ui/ui-script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMetaObject>
#include <QPixmap>
#include <QTabWidget>
#include <QWidget>

#include "kernel/kernel.h"
#include "ui/info-window.h"
#include "ui/main-window.h"

namespace vellumora::ui {

namespace {

constexpr qint64 kStepTimeoutMs = 60'000;
constexpr qint64 kScriptSizeLimit = 64 * 1024;

qint64 NowMs() {
  return QDateTime::currentMSecsSinceEpoch();
}

// The widget of that object name in any of the application's windows.
QWidget* FindWidget(const QString& name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == name) return top;
    if (QWidget* w = top->findChild<QWidget*>(name)) return w;
  }
  return nullptr;
}

bool ShownAndEnabled(const QWidget* w) {
  return w && w->isVisible() && w->isEnabled();
}

}  // namespace

UiScript::UiScript(QStringList steps, TForm0& mainWindow, TFormInfo& info)
    : steps_(std::move(steps)), main_(mainWindow), info_(info) {
  timer_.setInterval(50);
  connect(&timer_, &QTimer::timeout, this, &UiScript::Tick);
  info_.answerHook = [this](TFormInfo&) {
    if (answers_.empty()) return kAnswerNone;
    const char a = answers_.front();
    answers_.pop_front();
    return a;
  };
}

UiScript* UiScript::FromEnvironment(TForm0& mainWindow, TFormInfo& info) {
  const QString path = qEnvironmentVariable("VELLUMORA_UI_SCRIPT");
  if (path.isEmpty()) return nullptr;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
    gKernel->Log("ERROR UI script cannot be read: " + path.toStdString());
    return nullptr;
  }
  QStringList steps;
  for (const QString& line : QString::fromUtf8(file.read(kScriptSizeLimit)).split('\n')) {
    const QString step = line.trimmed();
    if (!step.isEmpty() && !step.startsWith('#')) steps << step;
  }
  auto* script = new UiScript(steps, mainWindow, info);
  script->setParent(&mainWindow);
  return script;
}

void UiScript::Start() {
  timer_.start();
}

void UiScript::Fail(const QString& why) {
  gKernel->Log("ERROR UI script: " + why.toStdString());
  steps_.clear();
  timer_.stop();
  main_.close();
}

void UiScript::Tick() {
  // Answers are taken as soon as they are read, so a question asked while an earlier step
  // waits finds its answer.
  while (!steps_.isEmpty() && steps_.front().startsWith(QLatin1String("answer "))) {
    const QString a = steps_.takeFirst().mid(7).trimmed();
    answers_.push_back(a == QLatin1String("y") ? kAnswerYes : kAnswerNo);
  }
  if (steps_.isEmpty()) {
    timer_.stop();
    return;
  }
  if (stepStartedMs_ < 0) stepStartedMs_ = NowMs();
  const QStringList words = steps_.front().split(' ', Qt::SkipEmptyParts);
  if (RunStep(words)) {
    steps_.removeFirst();
    stepStartedMs_ = -1;
    sleepUntilMs_ = -1;
  } else if (NowMs() - stepStartedMs_ > kStepTimeoutMs) {
    Fail(QStringLiteral("step timed out: ") + steps_.front());
  }
}

bool UiScript::RunStep(const QStringList& w) {
  const QString& verb = w.value(0);
  if (verb == QLatin1String("click") && w.size() == 2) {
    auto* button = qobject_cast<QAbstractButton*>(FindWidget(w[1]));
    if (!ShownAndEnabled(button)) return false;
    // Pressed from the event loop, not from inside this step: a button that opens a modal
    // dialog then leaves the script running in the dialog's loop.
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
    return true;
  }
  if (verb == QLatin1String("type") && w.size() >= 2) {  // the rest of the line, as typed
    QWidget* target = FindWidget(w[1]);
    if (!ShownAndEnabled(target)) return false;
    const QString text = w.mid(2).join(' ');
    if (auto* box = qobject_cast<QComboBox*>(target); box && box->isEditable()) {
      box->setEditText(text);
      return true;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(target)) {
      edit->setText(text);
      return true;
    }
    Fail(QStringLiteral("cannot type into ") + w[1]);
    return false;
  }
  if (verb == QLatin1String("close") && w.size() == 2) {
    QWidget* target = FindWidget(w[1]);
    if (target == nullptr || !target->isVisible()) return false;
    target->close();
    return true;
  }
  if (verb == QLatin1String("tab") && w.size() == 3) {  // a page chosen as the user would
    auto* pages = qobject_cast<QTabWidget*>(FindWidget(w[1]));
    bool ok = false;
    const int index = w[2].toInt(&ok);
    if (!ok || pages == nullptr || !pages->isVisible() || index < 0 || index >= pages->count())
      return false;
    pages->setCurrentIndex(index);
    return true;
  }
  if (verb == QLatin1String("wait-enabled") && w.size() == 2)
    return ShownAndEnabled(FindWidget(w[1]));
  if (verb == QLatin1String("wait-disabled") && w.size() == 2)
    return !ShownAndEnabled(FindWidget(w[1]));
  if (verb == QLatin1String("wait-file-gone") && w.size() == 2) return !QFileInfo::exists(w[1]);
  if (verb == QLatin1String("sleep") && w.size() == 2) {
    if (sleepUntilMs_ < 0) sleepUntilMs_ = NowMs() + w[1].toLongLong();
    return NowMs() >= sleepUntilMs_;
  }
  if (verb == QLatin1String("screenshot") && w.size() == 3) {
    QWidget* target = FindWidget(w[1]);
    if (target == nullptr || !target->isVisible()) return false;
    if (!target->grab().save(w[2], "PNG")) Fail(QStringLiteral("cannot save ") + w[2]);
    return true;
  }
  if (verb == QLatin1String("quit") && w.size() == 1) {
    main_.close();
    return true;
  }
  Fail(QStringLiteral("unknown step: ") + w.join(' '));
  return false;
}

}  // namespace vellumora::ui
