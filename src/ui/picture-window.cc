// TForm3: the borderless full-screen window that shows a picture for a channel whose output is
// the screen; any key or a click closes it.
#include "ui/picture-window.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>

namespace vellumora::ui {

TForm3::TForm3(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("TForm3"));
  setWindowTitle(QStringLiteral("Vellumora"));
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::black);
  setPalette(palette);
  setAutoFillBackground(true);
  // Key preview: the window itself takes every key, whatever has the focus.
  setFocusPolicy(Qt::StrongFocus);

  Image_ = new QLabel(this);
  Image_->setObjectName(QStringLiteral("Image"));
  Image_->setAlignment(Qt::AlignCenter);
  // A click on the picture reaches the window, which closes on it.
  Image_->setAttribute(Qt::WA_TransparentForMouseEvents);
  Image_->setGeometry(rect());
}

void TForm3::ShowPicture(const QImage& picture) {
  picture_ = picture;
  if (isVisible()) {
    FitPicture();
    raise();
  } else {
    show();
  }
  activateWindow();
  setFocus(Qt::OtherFocusReason);
}

void TForm3::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen) setGeometry(screen->geometry());
  FitPicture();
}

void TForm3::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  hide();
}

void TForm3::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  hide();
}

void TForm3::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Image_->setGeometry(rect());
  FitPicture();
}

void TForm3::FitPicture() {
  if (picture_.isNull() || Image_->width() <= 0 || Image_->height() <= 0) {
    Image_->clear();
    return;
  }
  // Stretched to the window both ways, its aspect ratio kept; the rest of the window is black.
  Image_->setPixmap(QPixmap::fromImage(
      picture_.scaled(Image_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

}  // namespace vellumora::ui
