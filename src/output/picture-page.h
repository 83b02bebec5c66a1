// Drawing one laid-out picture page: the frame, the text note and the watermark, in that order.
// The printer's document and the page proof draw their pages through here, so both show the
// same page.
#pragma once

#include <cstdint>
#include <string_view>

#include "kernel/print-channel.h"
#include "output/picture-layout.h"
#include "output/watermark-bitmap.h"
#include "platform/canvas.h"
#include "platform/clock.h"

namespace vellumora {

// Draws `frame` stretched into its place of `layout`, then the channel's note (page
// `pageNumber` of `totalPages`, `fileName` for "<N>") and the watermark over both, on a canvas
// in printer dots whose origin is the top left corner of the printable area.
void DrawPicturePage(Canvas& canvas, const PrintChannel& channel, const WatermarkBitmap& watermark,
                     const PictureLayout& layout, const Bitmap& frame, int32_t totalPages,
                     int32_t pageNumber, std::string_view fileName, const LocalClock& clock);

}  // namespace vellumora
