// The shared watermark picture.
#include "output/watermark-bitmap.h"

namespace vellumora {

void WatermarkBitmap::Clear() {
  picture_ = Bitmap{};
}

}  // namespace vellumora
