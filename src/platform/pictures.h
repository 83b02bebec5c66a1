// Picture files decoded into 32-bit bitmaps: frame counts, single frames and their resolution.
// The decoder is named by the caller; nothing of the decoding library leaks out of here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/canvas.h"

namespace vellumora::pictures {

enum class Format { kGif, kTiff, kJpeg, kBmp, kPng };

struct FrameResult {
  // Images in the file (for GIF always 1: only its first image is used); 0 when the file
  // could not be opened or decoded.
  int32_t frameCount = 0;
  // The decoded frame's resolution in dots per inch, 0 when the file stores none. Only
  // meaningful when a frame was decoded.
  int32_t dpiX = 0;
  int32_t dpiY = 0;
  bool decoded = false;  // a frame was written into the bitmap
  std::string error;     // why the file could not be loaded, when frameCount is 0
};

// Opens `path` with the decoder for `format` and, when `frame` (counted from 1) is not above
// the file's image count, decodes that image into `out` as opaque BGRA (transparent parts are
// laid on white). A file the decoder reads only in part (truncated, damaged data) counts as a
// failure, never as a half-grey picture. Never throws; safe to call from several threads.
//
// With `pixelsOptional`, a JPEG whose image is plain RGB or grey is still decoded in full (so
// damage is found) but `out` then carries only its size and the file itself (`jpegFile`), not
// its pixels: enough for a PDF page, which embeds the file, and half the memory.
FrameResult LoadFrame(Format format, const std::string& path, int32_t frame, Bitmap& out,
                      bool pixelsOptional = false);

}  // namespace vellumora::pictures
