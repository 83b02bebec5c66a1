// Conversion of engine pictures into Qt images.
#include "ui/qt-bitmap.h"

namespace vellumora::ui {

QImage ToQImage(const Bitmap& picture) {
  if (!picture.HasPixels()) return {};
  // The bytes B, G, R, A of each pixel are a 32-bit 0xAARRGGBB value on little-endian machines:
  // Qt's RGB32 layout. The engine's pictures are opaque.
  const QImage view(picture.bgra.data(), picture.width, picture.height, picture.stride,
                    QImage::Format_RGB32);
  return view.copy();
}

}  // namespace vellumora::ui
