// The small parts the setup dialog's pages share.
#include "ui/setup-parts.h"

#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <span>
#include <utility>

#include "kernel/text-fields.h"

namespace vellumora::ui {

namespace {

// A round indicator lamp; its colour is the palette's window colour, and a click on it runs
// `clicked`.
class Lamp : public QFrame {
 public:
  explicit Lamp(std::function<void()> clicked) : clicked_(std::move(clicked)) {
    setFixedSize(18, 18);
    SetColor(kLampGrey);
  }
  void SetColor(const QColor& color) {
    SetColour(this, QPalette::Window, color);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(64, 64, 64), 1));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawEllipse(rect().adjusted(1, 1, -1, -1));
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) &&
        clicked_)
      clicked_();
  }

 private:
  std::function<void()> clicked_;
};

}  // namespace

QFrame* NewLamp(std::function<void()> clicked) {
  return new Lamp(std::move(clicked));
}

void SetLamp(QFrame* lamp, const QColor& color) {
  static_cast<Lamp*>(lamp)->SetColor(color);
}

// The pictures of the two kinds of output, drawn rather than shipped as files.
QPixmap TargetPicture(bool screen) {
  QPixmap picture(100, 100);
  picture.fill(Qt::transparent);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 2));
  if (screen) {
    p.setBrush(QColor(60, 60, 60));
    p.drawRoundedRect(10, 14, 80, 56, 4, 4);
    p.setBrush(QColor(120, 180, 230));
    p.drawRect(16, 20, 68, 44);
    p.setBrush(QColor(90, 90, 90));
    p.drawRect(44, 70, 12, 12);
    p.drawRoundedRect(28, 82, 44, 6, 2, 2);
  } else {
    p.setBrush(Qt::white);
    p.drawRect(28, 8, 44, 30);  // the paper going in
    p.setBrush(QColor(150, 150, 150));
    p.drawRoundedRect(8, 34, 84, 40, 6, 6);
    p.setBrush(Qt::white);
    p.drawRect(24, 62, 52, 30);  // the page coming out
    p.setPen(QPen(QColor(120, 120, 120), 2));
    for (int y = 70; y <= 84; y += 7) p.drawLine(30, y, 70, y);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 201, 105));
    p.drawEllipse(78, 42, 8, 8);
  }
  return picture;
}

void SetColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

QString FieldText(const char16_t* units, std::size_t size) {
  return QString::fromStdString(ReadWideField(std::span<const char16_t>(units, size)));
}

void WaitPumping(int milliseconds) {
  if (milliseconds <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace vellumora::ui
