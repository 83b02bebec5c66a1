// Pictures of the engine (Bitmap, BGRA rows) as Qt images, and Windows colour values as colours.
#pragma once

#include <QColor>
#include <QImage>
#include <cstdint>

#include "platform/canvas.h"

namespace vellumora::ui {

// A deep copy of the picture's pixels (opaque); a null image when it has none.
QImage ToQImage(const Bitmap& picture);

// A Windows colour value (0x00BBGGRR) as a colour.
inline QColor WinColor(uint32_t value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

}  // namespace vellumora::ui
