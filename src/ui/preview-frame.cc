#include "ui/preview-frame.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "kernel/units.h"
#include "ui/control-hints.h"
#include "ui/setup-parts.h"

namespace vellumora::ui {

namespace {

const QColor kShadow(85, 85, 85);
const QColor kPrintable(255, 228, 183);
const QColor kImageArea(213, 224, 255);

void Paint(QWidget* w, const QColor& color) {
  w->setAutoFillBackground(true);
  SetColour(w, QPalette::Window, color);
}

QString MmText(int32_t dots, int32_t dpi) {
  return QStringLiteral(" %1 mm ").arg(DotsToMm(dots, dpi));
}

// A small landscape of our own: sky, sun, two hills and a lake, drawn at `size`.
QImage DrawSampleScene(QSize size) {
  QImage image(size, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal w = size.width(), h = size.height();
  QLinearGradient sky(0, 0, 0, h * 0.6);
  sky.setColorAt(0, QColor(70, 130, 210));
  sky.setColorAt(1, QColor(190, 220, 245));
  p.fillRect(image.rect(), sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(250, 210, 70));
  const qreal sun = std::min(w, h) * 0.16;
  p.drawEllipse(QPointF(w * 0.75, h * 0.22), sun, sun);
  QPainterPath far;
  far.moveTo(0, h * 0.62);
  far.cubicTo(w * 0.25, h * 0.35, w * 0.45, h * 0.40, w * 0.65, h * 0.58);
  far.lineTo(w, h * 0.50);
  far.lineTo(w, h);
  far.lineTo(0, h);
  p.setBrush(QColor(90, 140, 90));
  p.drawPath(far);
  QPainterPath near;
  near.moveTo(0, h * 0.80);
  near.cubicTo(w * 0.35, h * 0.60, w * 0.70, h * 0.72, w, h * 0.68);
  near.lineTo(w, h);
  near.lineTo(0, h);
  p.setBrush(QColor(50, 110, 60));
  p.drawPath(near);
  p.setBrush(QColor(60, 120, 200));
  p.drawEllipse(QPointF(w * 0.3, h * 0.9), w * 0.18, h * 0.05);
  return image;
}

// The sign of a variable paper length: a double arrow.
QPixmap VariableLengthSign() {
  QPixmap sign(20, 36);
  sign.fill(Qt::transparent);
  QPainter p(&sign);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(200, 40, 40), 3));
  p.drawLine(10, 4, 10, 32);
  p.drawLine(10, 4, 4, 11);
  p.drawLine(10, 4, 16, 11);
  p.drawLine(10, 32, 4, 25);
  p.drawLine(10, 32, 16, 25);
  return sign;
}

// Toward zero, and within what a widget can be: records read from files may hold anything.
int Truncated(double v) {
  if (!(v == v)) return 0;  // not a number
  return static_cast<int>(std::trunc(std::clamp(v, -1e6, 1e6)));
}

}  // namespace

TFR_Preview::TFR_Preview() {
  setObjectName(QStringLiteral("FRpreview"));
  setFixedSize(kWidth, kHeight);
  // Back to front, as the children are made.
  Shadow = Named(new QFrame(this), "Shadow");
  Paint(Shadow, kShadow);
  Shadow->hide();
  SHpaper = Named(new QFrame(this), "SHpaper");
  Paint(SHpaper, Qt::white);
  SHpaper->setFrameShape(QFrame::Box);
  SHpaper->hide();
  SHcanvas = Named(new QFrame(this), "SHcanvas");
  Paint(SHcanvas, kPrintable);
  SHcanvas->hide();
  IMprev = Named(new QLabel(this), "IMprev");
  IMprev->hide();
  for (QLabel** label : {&LBmmWidth, &LBmmHeight}) {
    *label = new QLabel(QStringLiteral(" 210 mm "), this);
    Paint(*label, Qt::white);
    SetColour(*label, QPalette::WindowText, Qt::black);
    (*label)->hide();
  }
  LBmmWidth->setObjectName(QStringLiteral("LBmmWidth"));
  LBmmHeight->setObjectName(QStringLiteral("LBmmHeight"));
  IMvarHeight = Named(new QLabel(this), "IMvarHeight");
  IMvarHeight->setPixmap(VariableLengthSign());
  IMvarHeight->adjustSize();
  IMvarHeight->move(kWidth - IMvarHeight->width() - 6, kHeight - IMvarHeight->height() - 6);
  IMvarHeight->hide();
}

const QImage& TFR_Preview::SampleLandscape() {
  static const QImage image = DrawSampleScene(QSize(150, 84));
  return image;
}

const QImage& TFR_Preview::SamplePortrait() {
  static const QImage image = DrawSampleScene(QSize(84, 150));
  return image;
}

void TFR_Preview::ShowSurface() {
  IMprev->setPixmap(QPixmap::fromImage(surface));
}

void TFR_Preview::ShowPaper(const PrintChannel& c) {
  surface = QImage();
  IMprev->clear();
  scale = 0;
  dpiX = c.geometry.dpiX;
  dpiY = c.geometry.dpiY;
  const int64_t W = c.geometry.paperRect.right, H = c.geometry.paperRect.bottom;
  if (W <= 0 || H <= 0) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{Shadow, SHpaper, SHcanvas, IMprev, LBmmWidth, LBmmHeight})
      w->hide();
    return;
  }
  int64_t paperHeight = kHeight - 12;
  int64_t paperWidth = paperHeight * W / H;
  scale = static_cast<double>(paperHeight) / static_cast<double>(H);
  if (kWidth < paperWidth + 10) {
    paperWidth = kWidth - 12;
    paperHeight = paperWidth * H / W;
    scale = static_cast<double>(paperWidth) / static_cast<double>(W);
  }
  const int pw = static_cast<int>(std::max<int64_t>(paperWidth, 1));
  const int ph = static_cast<int>(std::max<int64_t>(paperHeight, 1));
  const int left = (kWidth - pw) / 2 - 2, top = (kHeight - ph) / 2 - 2;
  SHpaper->setGeometry(left, top, pw, ph);
  SHpaper->show();

  LBmmWidth->setText(MmText(c.geometry.paperRect.right, c.geometry.dpiX));
  LBmmHeight->setText(MmText(c.geometry.paperRect.bottom, c.geometry.dpiY));
  LBmmWidth->adjustSize();
  LBmmHeight->adjustSize();
  LBmmWidth->move(left + (pw - LBmmWidth->width()) / 2, top - LBmmWidth->height() / 2);
  LBmmHeight->move(left + pw - LBmmHeight->width() - 2, top + (ph - LBmmHeight->height()) / 2);

  // A rectangle of the record in preview pixels, kept on the paper: a damaged record must not
  // make a surface larger than the preview.
  const auto area = [&](const Rect32& given) {
    const auto onPaper = [](int32_t v, int64_t extent) {
      return static_cast<int32_t>(std::clamp<int64_t>(v, 0, extent));
    };
    const Rect32 r{onPaper(given.left, W), onPaper(given.top, H),
                   onPaper(std::max(given.left, given.right), W),
                   onPaper(std::max(given.top, given.bottom), H)};
    return QRect(left + Truncated(r.left * scale), top + Truncated(r.top * scale),
                 Truncated((static_cast<double>(r.right) - r.left) * scale) + 1,
                 Truncated((static_cast<double>(r.bottom) - r.top) * scale) + 2);
  };
  SHcanvas->setGeometry(area(c.geometry.printRect));
  SHcanvas->show();
  const QRect image = area(c.geometry.borderRect);
  IMprev->setGeometry(image);
  surface = QImage(std::max(image.width(), 1), std::max(image.height(), 1), QImage::Format_RGB32);
  surface.fill(kImageArea);
  ShowSurface();
  IMprev->show();

  Shadow->setGeometry(left + 4, top + 4, pw, ph);
  Shadow->show();
  LBmmWidth->show();
  LBmmWidth->raise();
  LBmmHeight->raise();
  IMvarHeight->raise();
}

void TFR_Preview::DrawSample(const Rect32& r, const QImage& picture) {
  if (scale == 0 || surface.isNull()) return;
  const QRect target(QPoint(Truncated(r.left * scale), Truncated(r.top * scale)),
                     QPoint(Truncated(r.right * scale) - 1, Truncated(r.bottom * scale) - 1));
  if (target.width() < 1 || target.height() < 1 || !target.intersects(surface.rect())) return;
  QPainter p(&surface);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(target, picture);
  p.end();
  ShowSurface();
}

}  // namespace vellumora::ui
