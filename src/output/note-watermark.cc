// The text note and the watermark on picture and text pages, and loading the watermark.
#include "output/note-watermark.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <locale>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "output/outputs.h"

namespace vellumora {

namespace {

// The system locale's abbreviations of the months; the C locale's when the system locale
// cannot be used or does not name months in UTF-8. Looked up once per process: making a
// locale costs far more than drawing a note, and a text file prints hundreds of pages.
const std::string& MonthAbbreviation(int month) {
  static const std::array<std::string, 12> names = [] {
    auto format = [](const std::locale& locale, int m) {
      std::tm tm{};
      tm.tm_mon = m - 1;
      tm.tm_mday = 1;
      tm.tm_year = 100;
      std::ostringstream out;
      out.imbue(locale);
      std::use_facet<std::time_put<char>>(locale).put(out, out, ' ', &tm, 'b');
      return out.str();
    };
    std::array<std::string, 12> all;
    std::optional<std::locale> system;
    try {
      system.emplace("");
    } catch (const std::runtime_error&) {
      // LANG names a locale the system does not have.
    }
    for (int m = 1; m <= 12; ++m) {
      std::string name = system ? format(*system, m) : std::string();
      if (name.empty() || Utf16ToUtf8(Utf8ToUtf16(name)) != name)
        name = format(std::locale::classic(), m);
      all[m - 1] = std::move(name);
    }
    return all;
  }();
  return names[std::clamp(month, 1, 12) - 1];
}

// Replaces the first occurrence of `name` in `text`.
void ReplaceFirst(std::string& text, std::string_view name, std::string_view value) {
  const auto at = text.find(name);
  if (at != std::string::npos) text.replace(at, name.size(), value);
}

// Letters A..F; anything else prints at the bottom right.
char Position(const PrintChannel& channel) {
  const char p = channel.notePosition;
  return p >= 'A' && p <= 'F' ? p : 'F';
}

}  // namespace

std::string NoteDate(const LocalTime& date) {
  return std::to_string(date.day) + "." + MonthAbbreviation(date.month) + " " +
         std::to_string(date.year);
}

std::string SubstituteNoteVariables(std::string_view note, std::string_view date, int32_t page,
                                    int32_t total, bool withTotal, std::string_view fileName) {
  std::string text(note);
  ReplaceFirst(text, "<D>", date);
  ReplaceFirst(text, "<P>", std::to_string(page));
  if (withTotal) ReplaceFirst(text, "<A>", std::to_string(total));
  ReplaceFirst(text, "<N>", fileName);
  return text;
}

bool DrawTextNote(Canvas& canvas, const PrintChannel& channel, const DeviceRect& rect, double scale,
                  int32_t totalPages, int32_t pageNumber, std::string_view fileName,
                  std::string_view note, const LocalClock& clock) {
  // Fewer than 2 characters (UTF-16 units, as the record counts them) is no note.
  if (Utf8ToUtf16(note).size() < 2) return false;
  const std::string text =
      SubstituteNoteVariables(note, NoteDate(clock ? clock() : NowLocal()), pageNumber, totalPages,
                              true, ReadableText(fileName));
  FontSpec font;
  font.family = "Arial";
  // 10 points on the printer; in the preview the size those have there, for a 96-dpi screen.
  font.points =
      scale == 1.0 ? 10 : std::max(1, static_cast<int>((channel.dpiX * scale + 0.5) * 10 / 96));
  canvas.SetFont(font);
  const int32_t w = canvas.MeasureText(text + " ").width;
  const int32_t h = canvas.MeasureText(text).height;
  int32_t x = 0;
  int32_t y = 0;
  switch (Position(channel)) {
    case 'A':
      x = rect.left, y = rect.top;
      break;
    case 'B':
      x = (rect.right - w) / 2, y = rect.top;
      break;
    case 'C':
      x = rect.right - w, y = rect.top;
      break;
    case 'D':
      x = rect.left, y = rect.bottom - h - h / 2;
      break;
    case 'E':
      x = (rect.right - w) / 2, y = rect.bottom - h - h / 2;
      break;
    default:
      x = rect.right - w, y = rect.bottom - h - h / 2;
      break;
  }
  canvas.DrawText(x, y, text);
  return true;
}

DeviceRect WatermarkRect(const WatermarkBitmap& watermark, const DeviceRect& rect, double scale,
                         bool stretchVertical, bool stretchHorizontal) {
  DeviceRect d;
  if (stretchHorizontal) {
    d.left = rect.left, d.right = rect.right;
  } else {
    const auto ww = static_cast<int32_t>(watermark.Width() * scale);
    d.left = (rect.right - ww) / 2, d.right = (rect.right + ww) / 2;
  }
  if (stretchVertical) {
    d.top = rect.top, d.bottom = rect.bottom;
  } else {
    const auto wh = static_cast<int32_t>(watermark.Height() * scale);
    d.top = (rect.bottom - wh) / 2, d.bottom = (rect.bottom + wh) / 2;
  }
  // Kept inside the rectangle (whose extents bound the right and bottom edges).
  d.left = std::max(d.left, rect.left);
  d.right = std::min(d.right, rect.right - rect.left);
  d.top = std::max(d.top, rect.top);
  d.bottom = std::min(d.bottom, rect.bottom - rect.top);
  return d;
}

bool DrawWatermark(Canvas& canvas, const PrintChannel& channel, const WatermarkBitmap& watermark,
                   const DeviceRect& rect, double scale, bool stretchVertical,
                   bool stretchHorizontal) {
  if (!channel.watermark) return false;
  const DeviceRect d = WatermarkRect(watermark, rect, scale, stretchVertical, stretchHorizontal);
  // The canvas ANDs raster pages bit by bit; PDF pages get the multiply blend, which leaves
  // the page unchanged under white and blackens it under black, as the AND does.
  if (!watermark.Empty() && d.Width() > 0 && d.Height() > 0) canvas.AndDraw(watermark.picture(), d);
  return true;
}

TextPageNote DrawTextPageNote(Canvas& canvas, const PrintChannel& channel, int32_t pageWidth,
                              int32_t pageHeight, int32_t margin, int32_t pageNumber,
                              std::string_view fileName, const LocalClock& clock) {
  TextPageNote result;
  const std::string note = ReadField(channel.headerText);
  if (Utf8ToUtf16(note).size() < 2) return result;
  // Text pages are laid out one by one, so the page count is not known: "<A>" stays.
  const std::string text = SubstituteNoteVariables(note, NoteDate(clock ? clock() : NowLocal()),
                                                   pageNumber, 0, false, ReadableText(fileName));
  FontSpec font;
  font.family = "Arial";
  font.points = 10;
  font.colorRgb = 0x808080;
  canvas.SetFont(font);
  const TextSize size = canvas.MeasureText(text);
  const int32_t w = size.width;
  const int32_t h = size.height;
  const int32_t m = margin;
  int32_t x = 0;
  int32_t y = 0;
  const char position = Position(channel);
  switch (position) {
    case 'A':
      x = m, y = m;
      break;
    case 'B':
      x = (pageWidth - w) / 2, y = m;
      break;
    case 'C':
      x = pageWidth - m - w, y = m;
      break;
    case 'D':
      x = m, y = pageHeight - h - m;
      break;
    case 'E':
      x = (pageWidth - w) / 2, y = pageHeight - h - m;
      break;
    default:
      x = pageWidth - m - w, y = pageHeight - h - m;
      break;
  }
  canvas.DrawText(x, y, text);
  result.drawn = true;
  result.height = h;
  result.atTop = position <= 'C';
  return result;
}

bool DrawTextPageWatermark(Canvas& canvas, const PrintChannel& channel,
                           const WatermarkBitmap& watermark, int32_t pageWidth, int32_t pageHeight,
                           int32_t margin) {
  if (!channel.watermark) return false;
  const int32_t m = margin;
  const int32_t ww = watermark.Width();
  const int32_t wh = watermark.Height();
  DeviceRect d;
  if (channel.stretchWMhor) {
    d.left = m, d.right = pageWidth - m;
  } else {
    d.left = (pageWidth - ww) / 2, d.right = (pageWidth + ww) / 2;
  }
  if (channel.stretchWMvert) {
    d.top = m, d.bottom = pageHeight - m;
  } else {
    d.top = (pageHeight - wh) / 2, d.bottom = (pageHeight + wh) / 2;
  }
  d.left = std::max(d.left, m);
  d.right = std::min(d.right, pageWidth - m);
  d.top = std::max(d.top, m);
  d.bottom = std::min(d.bottom, pageHeight - m);
  if (!watermark.Empty() && d.Width() > 0 && d.Height() > 0) canvas.AndDraw(watermark.picture(), d);
  return true;
}

void Outputs::LoadWatermark() {
  watermark_.Clear();
  std::string found;
  for (const char* name : {"Watermark.bmp", "Watermark.gif", "Watermark.jpg", "Watermark.jpeg"}) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(kernel_.dataDir + name, ec)) {
      found = kernel_.dataDir + name;
      break;
    }
  }
  bool loaded = false;
  if (!found.empty()) {
    Bitmap picture;
    if (LoadGraphicFrame(picture, found, 1) > 0 && !picture.Empty()) {
      watermark_.Set(std::move(picture));
      loaded = true;
    }
  }
  kernel_.Log(loaded ? "Watermark / Background bitmap graphics loaded"
                     : "Watermark / No file found");
}

}  // namespace vellumora
