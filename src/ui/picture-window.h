// TForm3: the full-screen picture window, the output device "SCREEN" of a print channel.
#pragma once

#include <QImage>
#include <QLabel>
#include <QWidget>

namespace vellumora::ui {

class TForm3 : public QWidget {
 public:
  explicit TForm3(QWidget* parent = nullptr);

  // Shows the window over the whole screen with `picture` fitted into it, its aspect ratio
  // kept. The picture was decoded by the engine; the window never opens a file itself.
  void ShowPicture(const QImage& picture);

 protected:
  void showEvent(QShowEvent* event) override;           // FormShow: the screen's full size
  void keyReleaseEvent(QKeyEvent* event) override;      // FormKeyUp: any key closes
  void mouseReleaseEvent(QMouseEvent* event) override;  // ImageClick: a click closes
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitPicture();
  QLabel* Image_;
  QImage picture_;
};

}  // namespace vellumora::ui
