// A drawing surface in device units (printer dots or screen pixels): what the outputs draw
// pages, notes and watermarks on, whether the page goes to a printer or to a preview.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora {

struct DeviceRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
};

// A 32-bit picture: rows of B, G, R, A bytes, top row first (FreeImage's and cairo's layout
// on little-endian machines). Alpha is 255 for opaque pictures.
struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;  // bytes per row
  std::vector<uint8_t> bgra;
  // The JPEG file these pixels were decoded from, when they are exactly its image (RGB or
  // grey): a PDF page can then carry the file itself instead of re-compressing the pixels.
  std::shared_ptr<const std::string> jpegFile;
  // How the JPEG file's image is to be turned or mirrored to stand as these pixels do: the
  // EXIF orientation (1 as stored, 2..8 as EXIF counts them) of a photo stored sideways.
  int32_t jpegOrientation = 1;
  bool Empty() const { return width <= 0 || height <= 0; }
  // False for a picture that carries only its JPEG file (see pictures::LoadFrame).
  bool HasPixels() const {
    return !Empty() && stride >= width * 4 &&
           bgra.size() >= static_cast<std::size_t>(stride) * height;
  }
};

// Font style bits as stored in channel records.
enum FontStyleBits : int32_t { kBold = 1, kItalic = 2, kUnderline = 4, kStrikeOut = 8 };

struct FontSpec {
  std::string family = "Arial";
  double points = 10;
  int32_t style = 0;
  uint32_t colorRgb = 0;  // 0xRRGGBB
};

struct TextSize {
  int32_t width = 0;
  int32_t height = 0;
};

class Canvas;

// Many lines of text in one font, as text files print: each distinct word is shaped once and
// its glyphs are reused wherever it occurs, so a line costs a few look-ups instead of a fresh
// layout. It outlives the canvas of a page and draws on any canvas of the same document.
class LineTypesetter {
 public:
  virtual ~LineTypesetter() = default;
  virtual void SetFont(const FontSpec& font) = 0;
  // The logical size of a piece of text in the current font (one layout, not cached).
  virtual TextSize MeasureText(std::string_view utf8) = 0;
  // The font's average character width, in device units.
  virtual double AverageCharWidth() = 0;
  // Shapes one line (code points) in the current font for DrawLine. advances[i] is the width
  // of the glyphs of the cluster that character i begins: 0 for the other characters of a
  // cluster and for control characters, never below 0.
  virtual void ShapeLine(std::u32string_view line, std::vector<double>* advances) = 0;
  // Draws characters [begin, end) of the line last shaped, character i at
  // x + offsets[i] − offsets[begin], with the top of the line at y. offsets holds one entry
  // per character and one more (the line's width). Control characters are not drawn.
  virtual void DrawLine(Canvas& canvas, double x, int32_t y, std::size_t begin, std::size_t end,
                        const std::vector<double>& offsets) = 0;
};

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual int32_t DpiX() const = 0;
  virtual int32_t DpiY() const = 0;
  // Draws the picture scaled into `dest`.
  virtual void StretchDraw(const Bitmap& picture, const DeviceRect& dest) = 0;
  // Combines the picture with what is already there so that white leaves the page unchanged
  // and black blackens it (the bitwise AND of a raster device).
  virtual void AndDraw(const Bitmap& picture, const DeviceRect& dest) = 0;
  virtual void SetFont(const FontSpec& font) = 0;
  virtual TextSize MeasureText(std::string_view utf8) = 0;
  // Draws one line of text whose top left corner is at (x, y).
  virtual void DrawText(int32_t x, int32_t y, std::string_view utf8) = 0;
  // A typesetter for text lines on this document whose points are points at `dpi`.
  // None on canvases that cannot typeset text files.
  virtual std::unique_ptr<LineTypesetter> CreateLineTypesetter(int32_t /*dpi*/) { return nullptr; }
};

}  // namespace vellumora
