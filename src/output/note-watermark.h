// The text note (a one-line header or footer with date, page, page count and file name) and
// the watermark laid over each printed page. Both are drawn on any Canvas at a given scale, so
// the printer (scale 1.0) and the main window's preview draw them with the same code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kernel/print-channel.h"
#include "output/watermark-bitmap.h"
#include "platform/canvas.h"
#include "platform/clock.h"

namespace vellumora {

// The date as the note shows it: "d.mmm yyyy", the month abbreviated as the system locale
// names it (e.g. "7.Mar 2026").
std::string NoteDate(const LocalTime& date);

// Replaces, in this order and each only at its first occurrence, "<D>" by `date`, "<P>" by
// the page number, "<A>" by the total (only when withTotal) and "<N>" by the file name. The
// file name goes in last, so variable names inside it stay as they are.
std::string SubstituteNoteVariables(std::string_view note, std::string_view date, int32_t page,
                                    int32_t total, bool withTotal, std::string_view fileName);

// The note on a picture page, at the channel's notePosition within `rect` (the printable
// rectangle in canvas units). Arial, 10 points at scale 1.0; at other scales the size that 10
// points on the printer (channel dpiX) have on a 96-dpi preview. Notes shorter than 2
// characters are not drawn; returns whether one was.
bool DrawTextNote(Canvas& canvas, const PrintChannel& channel, const DeviceRect& rect, double scale,
                  int32_t totalPages, int32_t pageNumber, std::string_view fileName,
                  std::string_view note, const LocalClock& clock = NowLocal);

// The watermark on a picture page: centred on `rect` at `scale` times its own size, or
// stretched across and/or down, and ANDed onto the page (white leaves it unchanged, black
// blackens it). False without drawing when the channel's watermark flag is clear.
bool DrawWatermark(Canvas& canvas, const PrintChannel& channel, const WatermarkBitmap& watermark,
                   const DeviceRect& rect, double scale, bool stretchVertical,
                   bool stretchHorizontal);

// Where the watermark of DrawWatermark lands, without drawing it.
DeviceRect WatermarkRect(const WatermarkBitmap& watermark, const DeviceRect& rect, double scale,
                         bool stretchVertical, bool stretchHorizontal);

// The note on a text page of pageWidth × pageHeight dots with margin m on every side: the
// channel's headerText with "<D>", "<P>" and "<N>" ("<A>" stays), Arial 10 points, grey.
struct TextPageNote {
  bool drawn = false;
  int32_t height = 0;  // the note's height, measured when it was drawn
  bool atTop = false;  // positions A, B, C: the text begins 2 × height lower
};
TextPageNote DrawTextPageNote(Canvas& canvas, const PrintChannel& channel, int32_t pageWidth,
                              int32_t pageHeight, int32_t margin, int32_t pageNumber,
                              std::string_view fileName, const LocalClock& clock = NowLocal);

// The watermark on a text page: its own size in dots centred on the page, or stretched between
// the margins, and kept inside them. False without drawing when the watermark flag is clear.
bool DrawTextPageWatermark(Canvas& canvas, const PrintChannel& channel,
                           const WatermarkBitmap& watermark, int32_t pageWidth, int32_t pageHeight,
                           int32_t margin);

}  // namespace vellumora
