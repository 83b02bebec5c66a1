// The shared watermark picture.
#include "output/watermark-bitmap.h"

namespace vellumora {

void WatermarkBitmap::Clear() {
  width_ = 0;
  height_ = 0;
  pixels_.clear();
}

}  // namespace vellumora
