// TIFF pages that FreeImage does not decode, read with libtiff itself: floating-point samples
// (32 and 64 bits, as scientific and HDR programs write them) and whatever libtiff's own RGBA
// reader understands.
#pragma once

#include <tiffio.h>

#include <string>

#include "platform/canvas.h"

namespace vellumora::pictures {

// Decodes the current directory of `tiff` into `out` as opaque BGRA, top row first and as
// stored (the orientation tag is left to the caller; transparent parts laid on white).
// Floating-point samples count 0.0 as black and 1.0 as full intensity. The caller has checked
// the page's size against the decoding limit. False, with the reason in *why, when libtiff
// cannot decode it either.
bool DecodeTiffPage(TIFF* tiff, Bitmap& out, std::string* why);

}  // namespace vellumora::pictures
