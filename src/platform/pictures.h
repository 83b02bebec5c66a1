// Picture files decoded into 32-bit bitmaps: frame counts, single frames and their resolution.
// The decoder is named by the caller; nothing of the decoding library leaks out of here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/canvas.h"
#include "platform/files.h"

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
  // The frame was refused unread because its decoded size exceeds MaxDecodedBytes(); its
  // size as the file declares it. frameCount is 0 then.
  bool tooLarge = false;
  uint64_t declaredWidth = 0;
  uint64_t declaredHeight = 0;
};

// The decoder a picture file's name asks for: the first of ".GIF", ".TIF", ".JPG", ".JPEG",
// ".BMP" and ".PNG" found anywhere in the upper-cased path (".TIFF" files are found by ".TIF");
// nullptr for none.
const Format* DecoderFor(const std::string& path);

// Pictures above this many pixels are never decoded (600 megapixels: 2.4 GB at 4 bytes each).
inline constexpr uint64_t kMaxPixels = 600'000'000;

// The largest decoded frame accepted, in bytes at 4 bytes per pixel: kMaxPixels, and never
// more than half the machine's physical memory.
uint64_t MaxDecodedBytes();

// True when a frame of width × height pixels at 4 bytes each stays within `maxBytes`; exact
// for any pair of 64-bit values.
bool DecodedSizeFits(uint64_t width, uint64_t height, uint64_t maxBytes);

// Decodes from the open picture file `fd`, read only through positioned reads (pread) so that
// the descriptor's own offset is left alone, never by name. The decoder for `format` reads the
// file from its first byte; when `frame` (counted from 1) is not above the file's image count,
// image `frame` is decoded into `out` as opaque BGRA (transparent parts are laid on white). A
// file the decoder reads only in part (truncated, damaged data) counts as a failure, never as a
// half-grey picture. A frame whose header declares more than MaxDecodedBytes() is refused
// before any pixel is decoded. Never throws; safe to call from several threads.
//
// With `pixelsOptional`, a JPEG whose image is plain RGB or grey is still decoded in full (so
// damage is found) but `out` then carries only its size and the file itself (`jpegFile`), not
// its pixels: enough for a PDF page, which embeds the file, and half the memory.
FrameResult LoadFrame(Format format, int fd, int32_t frame, Bitmap& out,
                      bool pixelsOptional = false);

// Opens a picture file of our own (not one of a watched folder, whose descriptor the dispatcher
// hands over) for LoadFrame: read-only, not through a final symbolic link, regular files only.
// Invalid when it cannot be opened.
FileHandle OpenPictureFile(const std::string& path);

// Writes the picture as a 24-bit TIFF, deflate-compressed, with `dpi` as its resolution, to a
// new file at `path` (which must not exist). False, with the reason in *error, on failure.
bool WriteTiff(const Bitmap& picture, int32_t dpi, const std::string& path, std::string* error);

}  // namespace vellumora::pictures
