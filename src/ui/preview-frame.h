// TFR_Preview: the page layout page's preview. The paper drawn to scale with its shadow, the
// printable area, the image area inside the white borders and a sample picture placed as the
// channel's options would place a picture.
#pragma once

#include <QFrame>
#include <QImage>
#include <QLabel>

#include "kernel/print-channel.h"

namespace vellumora::ui {

class TFR_Preview : public QFrame {
 public:
  static constexpr int kWidth = 302;
  static constexpr int kHeight = 367;

  TFR_Preview();

  // Draws `channel`'s paper, printable area and image area (filled in RGB 213, 224, 255) and
  // keeps its scale; a paper of no width or height leaves the preview empty (scale 0).
  void ShowPaper(const PrintChannel& channel);
  // Stretches `picture` into `rect` (printer dots from the image area's top left corner) of
  // the image area; nothing while no paper is drawn.
  void DrawSample(const Rect32& rect, const QImage& picture);

  // The samples: a landscape picture of 150 × 84 pixels and a portrait one of 84 × 150.
  static const QImage& SampleLandscape();  // "PREV_HOR"
  static const QImage& SamplePortrait();   // "PREV_VERT"

  double scale = 0;            // preview pixels per printer dot, 0 until a paper was drawn
  int32_t dpiX = 0, dpiY = 0;  // of the channel drawn

  QFrame* Shadow;
  QFrame* SHpaper;
  QFrame* SHcanvas;
  QLabel* IMprev;  // the image area; its picture is `surface`
  QLabel* LBmmWidth;
  QLabel* LBmmHeight;
  QLabel* IMvarHeight;  // the sign of a paper length that follows the picture
  QImage surface;       // what IMprev shows

 private:
  void ShowSurface();
};

}  // namespace vellumora::ui
