// Turning and mirroring decoded pictures by their stored orientation.
#include "platform/imaging/orientation.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace vellumora::pictures {

namespace {

uint32_t* Row(Bitmap& b, int32_t y) {
  return reinterpret_cast<uint32_t*>(b.bgra.data() + static_cast<std::size_t>(y) * b.stride);
}

void MirrorRows(Bitmap& b) {
  for (int32_t y = 0; y < b.height; ++y) std::reverse(Row(b, y), Row(b, y) + b.width);
}

void MirrorColumns(Bitmap& b) {
  for (int32_t top = 0, bottom = b.height - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(Row(b, top), Row(b, top) + b.width, Row(b, bottom));
}

}  // namespace

bool ApplyOrientation(Bitmap& picture, int32_t orientation) {
  if (orientation < 2 || orientation > 8 || !picture.HasPixels()) return true;
  switch (orientation) {
    case 2:
      MirrorRows(picture);
      return true;
    case 3:
      MirrorRows(picture);
      MirrorColumns(picture);
      return true;
    case 4:
      MirrorColumns(picture);
      return true;
    default:
      break;
  }
  // 5..8: the picture is shown `height` pixels wide. Each shown pixel (x, y) comes from the
  // stored pixel at (sx, sy).
  const int32_t w = picture.width, h = picture.height;
  Bitmap turned;
  turned.width = h;
  turned.height = w;
  turned.stride = h * 4;
  try {
    turned.bgra.resize(static_cast<std::size_t>(turned.stride) * w);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t y = 0; y < turned.height; ++y) {
    uint32_t* d = Row(turned, y);
    for (int32_t x = 0; x < turned.width; ++x) {
      int32_t sx = 0, sy = 0;
      switch (orientation) {
        case 5:  // transposed
          sx = y, sy = x;
          break;
        case 6:  // turned a quarter clockwise to be shown
          sx = y, sy = h - 1 - x;
          break;
        case 7:  // transposed across the other diagonal
          sx = w - 1 - y, sy = h - 1 - x;
          break;
        default:  // 8: turned a quarter anticlockwise to be shown
          sx = w - 1 - y, sy = x;
          break;
      }
      d[x] = Row(picture, sy)[sx];
    }
  }
  turned.jpegFile = nullptr;
  picture = std::move(turned);
  return true;
}

}  // namespace vellumora::pictures
