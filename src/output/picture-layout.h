// Where one picture frame goes on its page by the channel's layout rules: orientation, page
// size, the image rectangle, the printable area and the paper to set before the document.
#pragma once

#include <cstdint>

#include "kernel/print-channel.h"
#include "platform/canvas.h"

namespace vellumora {

// A decoded frame as the layout sees it.
struct FrameSize {
  int32_t width = 0;  // pixels
  int32_t height = 0;
  // The frame's own resolution in dots per inch (TIFF frames); 0 prints one dot per pixel.
  int32_t dpiX = 0;
  int32_t dpiY = 0;
};

inline constexpr int32_t kUserDefinedPaper = 256;

// The printer's default paper for the document: the channel's paper code, or a user-defined
// size (kUserDefinedPaper) in millimetres.
struct PaperRequest {
  int32_t paperCode = 0;
  int32_t widthMm = 0;
  int32_t heightMm = 0;
  bool operator==(const PaperRequest&) const = default;
};

struct PictureLayout {
  bool landscape = false;
  // The page in printer dots, after orientation and paper length are settled.
  int32_t pageWidth = 0;
  int32_t pageHeight = 0;
  DeviceRect image;      // where the frame is drawn, in page coordinates
  DeviceRect printable;  // the note's and the watermark's area, in canvas coordinates
  PaperRequest paper;
};

// Lays out `frame` on a page of the channel's geometry. Pure, and safe for any values a
// channel record read from a file may hold: every result is clamped to 32 bits.
PictureLayout LayOutPicture(const PrintChannel& channel, const FrameSize& frame);

// A page rectangle in canvas coordinates, whose origin is the top left of the printable area.
DeviceRect ToCanvas(const DeviceRect& onPage, const PageGeometry& geometry);

}  // namespace vellumora
