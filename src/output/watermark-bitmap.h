// The one watermark picture shared by all channels; empty until scanning starts and loads it.
#pragma once

#include <utility>

#include "platform/canvas.h"

namespace vellumora {

class WatermarkBitmap {
 public:
  bool Empty() const { return picture_.Empty(); }
  int Width() const { return picture_.width; }
  int Height() const { return picture_.height; }
  void Clear();
  // The picture as loaded (32-bit BGRA rows, top row first).
  const Bitmap& picture() const { return picture_; }
  void Set(Bitmap picture) { picture_ = std::move(picture); }

 private:
  Bitmap picture_;
};

}  // namespace vellumora
