// The question window, the full-screen picture window and the about window, driven by object
// name on the offscreen platform.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <string>

#include "kernel/kernel.h"
#include "support/sandbox-dir.h"
#include "ui/about-window.h"
#include "ui/info-window.h"
#include "ui/picture-window.h"

namespace vellumora::ui {

// Catches the addresses the about window asks the desktop to open.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

namespace {

template <typename T>
T* Child(QWidget& window, const char* name) {
  T* child = window.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

QColor TextColor(QLabel* label) {
  return label->palette().color(QPalette::WindowText);
}

// What the window showed when the hook ran.
struct Seen {
  QColor message;
  bool pleaseWait = false, yes = false, no = false, close = false;
  int messageTop = 0;
  int widthBeyondMessage = 0;  // window width - message label width
  bool layoutRight = false;    // the buttons and "Please wait" where they belong
  bool centred = false;
};

Seen Look(TFormInfo& window) {
  Seen s;
  auto* label1 = Child<QLabel>(window, "Label1");
  auto* label2 = Child<QLabel>(window, "Label2");
  auto* yes = Child<QPushButton>(window, "BNyes");
  auto* no = Child<QPushButton>(window, "BNno");
  auto* close = Child<QPushButton>(window, "BNclose");
  s.message = TextColor(label1);
  s.pleaseWait = label2->isVisible();
  s.yes = yes->isVisible();
  s.no = no->isVisible();
  s.close = close->isVisible();
  s.messageTop = label1->y();
  s.widthBeyondMessage = window.width() - label1->width();
  const int w = window.width();
  s.layoutRight = close->x() == w - 30 && yes->x() + yes->width() == w - 5 &&
                  no->x() + no->width() == yes->x() - 5 && label2->x() == no->x();
  const QRect screen = window.screen()->geometry();
  s.centred = window.x() == screen.x() + (screen.width() - w) / 2;
  return s;
}

struct StopReset {
  ~StopReset() { stopRequested = 0; }
};

TEST(InfoWindow, KindsSetColoursButtonsAndLayout) {
  struct Case {
    int kind;
    const char* comment;
    QColor message;
    bool pleaseWait, buttons;
    int extraWidth;
    char answer;
  };
  const Case cases[] = {
      {0, "", Qt::white, true, false, 0, 'n'},
      {6, "a comment", QColor(255, 255, 0), true, false, 0, '?'},
      {7, "", QColor(255, 0, 0), false, false, 0, 'y'},
      {7999, "", QColor(255, 0, 0), false, false, 0, 'n'},
      {8, "", Qt::white, false, true, 30, 'y'},
      {8123, "second line", Qt::white, false, true, 30, 'n'},
  };
  TFormInfo window;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    Seen seen;
    window.answerHook = [&](TFormInfo& w) {
      seen = Look(w);
      return c.answer;
    };
    EXPECT_EQ(window.Ask(QStringLiteral("Accept the new client?"), 0, QString::fromUtf8(c.comment),
                         c.kind),
              c.answer);
    EXPECT_EQ(seen.message, c.message);
    EXPECT_EQ(seen.pleaseWait, c.pleaseWait);
    EXPECT_EQ(seen.yes, c.buttons);
    EXPECT_EQ(seen.no, c.buttons);
    EXPECT_EQ(seen.close, !c.buttons);
    EXPECT_EQ(seen.messageTop, *c.comment ? 14 : 21);
    EXPECT_EQ(seen.widthBeyondMessage, 260 + c.extraWidth);
    EXPECT_TRUE(seen.layoutRight);
    EXPECT_TRUE(seen.centred);
    EXPECT_FALSE(window.isVisible());
  }
}

TEST(InfoWindow, ButtonsAndClosingAnswerWhileAskWaits) {
  const std::pair<std::function<void(TFormInfo&)>, char> cases[] = {
      {[](TFormInfo& w) { QTest::mouseClick(Child<QPushButton>(w, "BNyes"), Qt::LeftButton); },
       'y'},
      {[](TFormInfo& w) { QTest::mouseClick(Child<QPushButton>(w, "BNno"), Qt::LeftButton); }, 'n'},
      {[](TFormInfo& w) { w.close(); }, '?'},
  };
  TFormInfo window;
  for (const auto& [act, expected] : cases) {
    SCOPED_TRACE(expected);
    // The hook leaves the answer open; the action comes later, from inside the wait.
    window.answerHook = [&act](TFormInfo& w) {
      QTimer::singleShot(20, &w, [&act, &w] { act(w); });
      return kAnswerNone;
    };
    EXPECT_EQ(window.Ask(QStringLiteral("Question"), 0, QString(), kAskQuestion), expected);
  }
  // The close button of a plain message.
  window.answerHook = [](TFormInfo& w) {
    QTimer::singleShot(
        20, &w, [&w] { QTest::mouseClick(Child<QPushButton>(w, "BNclose"), Qt::LeftButton); });
    return kAnswerNone;
  };
  EXPECT_EQ(window.Ask(QStringLiteral("Message"), 0, QString(), 0), '?');
}

TEST(InfoWindow, TimeOutAnswersClosed) {
  TFormInfo window;
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(window.Ask(QStringLiteral("Nobody answers"), 1, QString(), kAskQuestion), '?');
  EXPECT_GE(clock.elapsed(), 950);
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(Child<QTimer>(window, "Timer")->isActive());
}

TEST(InfoWindow, StopEndsAskWithBlank) {
  StopReset reset;
  TFormInfo window;
  int hookCalls = 0;
  window.answerHook = [&](TFormInfo&) {
    ++hookCalls;
    return kAnswerYes;
  };
  // Pending before the question: no wait, and the hook is not asked for consent.
  stopRequested = 1;
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(window.Ask(QStringLiteral("Question"), 0, QString(), kAskQuestion), ' ');
  EXPECT_LT(clock.elapsed(), 500);
  EXPECT_EQ(hookCalls, 0);
  EXPECT_FALSE(window.isVisible());

  // Arriving while the question waits.
  stopRequested = 0;
  window.answerHook = [](TFormInfo&) {
    stopRequested = 1;
    return kAnswerNone;
  };
  EXPECT_EQ(window.Ask(QStringLiteral("Question"), 0, QString(), kAskQuestion), ' ');
}

TEST(InfoWindow, NestedAskEndsBothWithTheSameAnswer) {
  TFormInfo window;
  char inner = 0;
  int calls = 0;
  window.answerHook = [&](TFormInfo& w) {
    if (++calls == 1) {
      QTimer::singleShot(20, &w, [&] {
        inner = w.Ask(QStringLiteral("Second question"), 0, QString(), kAskQuestion);
      });
      return kAnswerNone;
    }
    return kAnswerYes;
  };
  EXPECT_EQ(window.Ask(QStringLiteral("First question"), 0, QString(), kAskQuestion), 'y');
  EXPECT_EQ(inner, 'y');
  EXPECT_FALSE(window.isVisible());
}

TEST(PictureWindow, FillsTheScreenWithThePictureAndClosesOnKeyOrClick) {
  const std::pair<const char*, std::function<void(TForm3&)>> closers[] = {
      {"key", [](TForm3& w) { QTest::keyClick(&w, Qt::Key_Space); }},
      {"click", [](TForm3& w) { QTest::mouseClick(Child<QLabel>(w, "Image"), Qt::LeftButton); }},
  };
  QImage picture(400, 100, QImage::Format_RGB32);
  picture.fill(Qt::red);
  TForm3 window;
  for (const auto& [name, close] : closers) {
    SCOPED_TRACE(name);
    window.ShowPicture(picture);
    ASSERT_TRUE(window.isVisible());
    const QRect screen = window.screen()->geometry();
    EXPECT_EQ(window.geometry(), screen);
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    auto* image = Child<QLabel>(window, "Image");
    EXPECT_EQ(image->geometry(), window.rect());
    // Fitted to the width, the aspect ratio kept.
    EXPECT_EQ(image->pixmap().size(), picture.size().scaled(screen.size(), Qt::KeepAspectRatio));
    close(window);
    EXPECT_FALSE(window.isVisible());
  }
}

TEST(AboutWindow, ShowsTheTextsOfTheShareFolder) {
  test::SandboxDir share;
  const QString dir = QString::fromStdString(share.path().string() + "/");
  test::WriteFileBytes(share.path() / "License.txt", "Licence \xC3\xBC text\n");
  // No Acknowledgements.txt: Memo2 keeps its design-time text.
  TForm2 window(dir);
  window.show();
  EXPECT_EQ(Child<QPlainTextEdit>(window, "Memo1")->toPlainText(),
            QString::fromUtf8("Licence \xC3\xBC text\n"));
  EXPECT_EQ(Child<QPlainTextEdit>(window, "Memo2")->toPlainText(), "ACKNOWLEDGEMENTS");
  EXPECT_TRUE(Child<QPlainTextEdit>(window, "Memo1")->isReadOnly());
  window.hide();

  // At most the first megabyte, and a character cut off at that limit is dropped whole.
  std::string kept;
  while (kept.size() + 64 < (1 << 20)) kept += std::string(63, 'a') + "\n";
  kept += std::string((1 << 20) - 1 - kept.size(), 'b');
  test::WriteFileBytes(share.path() / "Acknowledgements.txt", kept + "\xC3\xA9" + "tail");
  window.show();
  EXPECT_EQ(Child<QPlainTextEdit>(window, "Memo2")->toPlainText(), QString::fromStdString(kept));
}

TEST(AboutWindow, ShipsLogoLicenceAndLinks) {
  const QString share = QStringLiteral(VELLUMORA_SOURCE_SHARE);
  ASSERT_FALSE(ProgramIcon(share).isNull());
  EXPECT_TRUE(ProgramIcon(QStringLiteral("/nonexistent/")).isNull());
  TForm2 window(share);
  window.show();
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(Child<QLabel>(window, "Image1")->pixmap().isNull());
  EXPECT_TRUE(Child<QPlainTextEdit>(window, "Memo1")
                  ->toPlainText()
                  .contains(QStringLiteral("GNU GENERAL PUBLIC LICENSE")));
  EXPECT_TRUE(Child<QPlainTextEdit>(window, "Memo2")->toPlainText().contains("poppler"));

  UrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
  for (const char* name : {"Label4", "Label7", "Label11"}) {
    auto* link = Child<QLabel>(window, name);
    QTest::mouseClick(link, Qt::LeftButton);
    ASSERT_FALSE(catcher.opened.isEmpty()) << name;
    EXPECT_EQ(catcher.opened.last(), QUrl(link->toolTip())) << name;
    EXPECT_TRUE(link->toolTip().startsWith("https://")) << name;
  }
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
  EXPECT_EQ(catcher.opened.size(), 3);
}

}  // namespace
}  // namespace vellumora::ui

#include "small-windows-test.moc"
