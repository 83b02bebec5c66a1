// Drawing one laid-out picture page, for the printer and for the page proof alike.
#include "output/picture-page.h"

#include <string>

#include "kernel/text-fields.h"
#include "output/note-watermark.h"

namespace vellumora {

void DrawPicturePage(Canvas& canvas, const PrintChannel& channel, const WatermarkBitmap& watermark,
                     const PictureLayout& layout, const Bitmap& frame, int32_t totalPages,
                     int32_t pageNumber, std::string_view fileName, const LocalClock& clock) {
  canvas.StretchDraw(frame, ToCanvas(layout.image, channel.geometry));
  // The watermark lies over picture and note alike.
  DrawTextNote(canvas, channel, layout.printable, 1.0, totalPages, pageNumber, fileName,
               ReadField(channel.headerText), clock);
  DrawWatermark(canvas, channel, watermark, layout.printable, 1.0, channel.stretchWMvert != 0,
                channel.stretchWMhor != 0);
}

}  // namespace vellumora
