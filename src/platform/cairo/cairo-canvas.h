// The canvas on cairo: one implementation for PDF pages (printers) and image surfaces
// (previews, tests). Text goes through pango, with fonts resolved by fontconfig.
#pragma once

#include <memory>

#include "platform/canvas.h"

typedef struct _cairo cairo_t;

namespace vellumora {

class CairoCanvas : public Canvas {
 public:
  // Draws on `cr`, whose user unit must be one device dot at the given resolution.
  CairoCanvas(cairo_t* cr, int32_t dpiX, int32_t dpiY);
  ~CairoCanvas() override;

  int32_t DpiX() const override { return dpiX_; }
  int32_t DpiY() const override { return dpiY_; }
  void StretchDraw(const Bitmap& picture, const DeviceRect& dest) override;
  void AndDraw(const Bitmap& picture, const DeviceRect& dest) override;
  void SetFont(const FontSpec& font) override;
  TextSize MeasureText(std::string_view utf8) override;
  void DrawText(int32_t x, int32_t y, std::string_view utf8) override;
  std::unique_ptr<LineTypesetter> CreateLineTypesetter(int32_t dpi) override;
  cairo_t* context() const { return cr_; }

 private:
  struct Text;
  // Picture surfaces that carry their file's JPEG data: kept until the page is done, so cairo
  // never copies their (untouched) pixel memory.
  struct KeptSurfaces;
  std::unique_ptr<KeptSurfaces> kept_;
  cairo_t* cr_;
  int32_t dpiX_, dpiY_;
  FontSpec font_;
  std::unique_ptr<Text> text_;
};

// Where a canvas's units lie on a picture: `scaleX`, `scaleY` pixels per unit, and the canvas
// origin `originX`, `originY` units right of and below the picture's top left corner (a
// printer's page puts its origin at the printable area). Scaled and moved, never turned.
struct ImagePlacement {
  double scaleX = 1, scaleY = 1;
  double originX = 0, originY = 0;
};

// A canvas on a picture in memory (32-bit, white to begin with), e.g. for a preview.
class ImageCanvas {
 public:
  // One canvas unit per pixel, the origin at the top left corner.
  ImageCanvas(int32_t width, int32_t height, int32_t dpiX, int32_t dpiY);
  // Canvas units (e.g. printer dots) placed on the picture as `placement` says.
  ImageCanvas(int32_t width, int32_t height, int32_t dpiX, int32_t dpiY,
              const ImagePlacement& placement);
  ~ImageCanvas();
  Canvas& canvas() { return *canvas_; }
  // The picture as drawn so far.
  Bitmap Snapshot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::unique_ptr<CairoCanvas> canvas_;
};

}  // namespace vellumora
