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
  bool Empty() const { return width <= 0 || height <= 0; }
  // False for a picture that carries only its JPEG file (see pictures::LoadFrame).
  bool HasPixels() const {
    return !Empty() && stride >= width * 4 && bgra.size() >= static_cast<std::size_t>(stride) * height;
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
};

}  // namespace vellumora
