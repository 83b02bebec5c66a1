// Turning and mirroring a decoded picture so that it stands as its file says it is to be
// shown: the orientation that phones and scanners store (EXIF in JPEG files, the TIFF tag)
// instead of turning the pixels themselves.
#pragma once

#include <cstdint>

#include "platform/canvas.h"

namespace vellumora::pictures {

// The orientation values both EXIF and TIFF use: 1 stored as shown, 2 mirrored left to right,
// 3 turned half round, 4 mirrored top to bottom, 5 mirrored along the diagonal from the top
// left, 6 to be turned a quarter clockwise, 7 mirrored along the other diagonal, 8 to be
// turned a quarter anticlockwise.
inline constexpr int32_t kOrientationNormal = 1;

// True for the orientations whose picture is shown with width and height exchanged.
inline bool SwapsSides(int32_t orientation) {
  return orientation >= 5 && orientation <= 8;
}

// Makes `picture` (with pixels) stand as orientation `orientation` says; values outside 2..8
// leave it as it is. False, with the picture unchanged, when there is no memory for the turned
// copy that orientations 5..8 need.
bool ApplyOrientation(Bitmap& picture, int32_t orientation);

}  // namespace vellumora::pictures
