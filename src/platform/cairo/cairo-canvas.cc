// The canvas on cairo and pango.
#include "platform/cairo/cairo-canvas.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace vellumora {

namespace {

// A cairo surface over the picture's pixels (no copy). Our pictures are opaque or
// straight-alpha; cairo wants premultiplied, which is the same for opaque pixels.
cairo_surface_t* SurfaceFor(const Bitmap& picture) {
  return cairo_image_surface_create_for_data(const_cast<uint8_t*>(picture.bgra.data()),
                                             CAIRO_FORMAT_ARGB32, picture.width, picture.height,
                                             picture.stride);
}

}  // namespace

struct CairoCanvas::KeptSurfaces {
  std::vector<cairo_surface_t*> surfaces;
  ~KeptSurfaces() {
    for (cairo_surface_t* s : surfaces) cairo_surface_destroy(s);
  }
};

struct CairoCanvas::Text {
  PangoLayout* layout = nullptr;
  ~Text() {
    if (layout) g_object_unref(layout);
  }
};

CairoCanvas::CairoCanvas(cairo_t* cr, int32_t dpiX, int32_t dpiY)
    : kept_(std::make_unique<KeptSurfaces>()),
      cr_(cr),
      dpiX_(dpiX),
      dpiY_(dpiY),
      text_(std::make_unique<Text>()) {
  text_->layout = pango_cairo_create_layout(cr_);
  PangoContext* context = pango_layout_get_context(text_->layout);
  // Points are points on the device: pango's resolution is the device's.
  pango_cairo_context_set_resolution(context, dpiY_ > 0 ? dpiY_ : 96);
  // Measure the same on every surface: no glyph rounding, no hinted metrics.
  pango_context_set_round_glyph_positions(context, FALSE);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
  pango_layout_context_changed(text_->layout);
  SetFont(FontSpec{});
}

CairoCanvas::~CairoCanvas() = default;

void CairoCanvas::StretchDraw(const Bitmap& picture, const DeviceRect& dest) {
  if (picture.Empty() || dest.Width() == 0 || dest.Height() == 0) return;
  cairo_surface_t* source;
  // The source's own size: the picture's, or 1 × 1 for a JPEG that goes in as its file.
  int32_t sourceWidth = picture.width, sourceHeight = picture.height;
  if (picture.jpegFile &&
      cairo_surface_get_type(cairo_get_target(cr_)) != CAIRO_SURFACE_TYPE_IMAGE) {
    // PDF pages embed the JPEG file as it is: no deflating of tens of megabytes of pixels. The
    // PDF image is always drawn into a unit square scaled to the source's size, and an opaque
    // surface with JPEG data is written as that data, its pixels never read: so a 1 × 1
    // surface, stretched to the destination, carries the whole picture. A surface of the
    // picture's size would cost its full size in memory when cairo copies it on release.
    source = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    sourceWidth = sourceHeight = 1;
    kept_->surfaces.push_back(cairo_surface_reference(source));
    auto* keep = new std::shared_ptr<const std::string>(picture.jpegFile);
    cairo_surface_set_mime_data(
        source, CAIRO_MIME_TYPE_JPEG, reinterpret_cast<const unsigned char*>((*keep)->data()),
        (*keep)->size(),
        [](void* p) { delete static_cast<std::shared_ptr<const std::string>*>(p); }, keep);
  } else if (picture.HasPixels()) {
    source = SurfaceFor(picture);
  } else {
    return;  // a picture without pixels can only go onto a PDF page
  }
  cairo_save(cr_);
  cairo_rectangle(cr_, dest.left, dest.top, dest.Width(), dest.Height());
  cairo_clip(cr_);
  cairo_translate(cr_, dest.left, dest.top);
  cairo_scale(cr_, static_cast<double>(dest.Width()) / sourceWidth,
              static_cast<double>(dest.Height()) / sourceHeight);
  cairo_set_source_surface(cr_, source, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_GOOD);
  cairo_paint(cr_);
  cairo_restore(cr_);
  cairo_surface_destroy(source);
}

void CairoCanvas::AndDraw(const Bitmap& picture, const DeviceRect& dest) {
  if (!picture.HasPixels() || dest.Width() <= 0 || dest.Height() <= 0) return;
  cairo_surface_t* target = cairo_get_target(cr_);
  if (cairo_surface_get_type(target) != CAIRO_SURFACE_TYPE_IMAGE) {
    // Vector pages: the multiply blend is the closest to AND that a PDF can say; white leaves
    // the page as it is and black blackens it.
    cairo_save(cr_);
    cairo_set_operator(cr_, CAIRO_OPERATOR_MULTIPLY);
    StretchDraw(picture, dest);
    cairo_restore(cr_);
    return;
  }
  // Raster pages: a bitwise AND per channel, the picture scaled nearest-neighbour.
  cairo_surface_flush(target);
  uint8_t* data = cairo_image_surface_get_data(target);
  const int width = cairo_image_surface_get_width(target);
  const int height = cairo_image_surface_get_height(target);
  const int stride = cairo_image_surface_get_stride(target);
  double ox = 0, oy = 0;
  cairo_user_to_device(cr_, &ox, &oy);
  for (int y = 0; y < dest.Height(); ++y) {
    const int ty = static_cast<int>(oy) + dest.top + y;
    if (ty < 0 || ty >= height) continue;
    const int sy = static_cast<int>(static_cast<int64_t>(y) * picture.height / dest.Height());
    const uint8_t* srcRow = picture.bgra.data() + static_cast<std::size_t>(sy) * picture.stride;
    uint8_t* dstRow = data + static_cast<std::size_t>(ty) * stride;
    for (int x = 0; x < dest.Width(); ++x) {
      const int tx = static_cast<int>(ox) + dest.left + x;
      if (tx < 0 || tx >= width) continue;
      const int sx = static_cast<int>(static_cast<int64_t>(x) * picture.width / dest.Width());
      for (int c = 0; c < 3; ++c) dstRow[tx * 4 + c] &= srcRow[sx * 4 + c];
    }
  }
  cairo_surface_mark_dirty(target);
}

void CairoCanvas::SetFont(const FontSpec& font) {
  font_ = font;
  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, font.family.c_str());
  pango_font_description_set_size(desc, static_cast<gint>(font.points * PANGO_SCALE));
  pango_font_description_set_weight(desc,
                                    (font.style & kBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(
      desc, (font.style & kItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_layout_set_font_description(text_->layout, desc);
  pango_font_description_free(desc);
  PangoAttrList* attrs = pango_attr_list_new();
  if (font.style & kUnderline)
    pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
  if (font.style & kStrikeOut) pango_attr_list_insert(attrs, pango_attr_strikethrough_new(TRUE));
  pango_layout_set_attributes(text_->layout, attrs);
  pango_attr_list_unref(attrs);
}

TextSize CairoCanvas::MeasureText(std::string_view utf8) {
  pango_layout_set_text(text_->layout, utf8.data(), static_cast<int>(utf8.size()));
  PangoRectangle logical;
  pango_layout_get_extents(text_->layout, nullptr, &logical);
  return {static_cast<int32_t>(std::ceil(static_cast<double>(logical.width) / PANGO_SCALE)),
          static_cast<int32_t>(std::ceil(static_cast<double>(logical.height) / PANGO_SCALE))};
}

void CairoCanvas::DrawText(int32_t x, int32_t y, std::string_view utf8) {
  pango_layout_set_text(text_->layout, utf8.data(), static_cast<int>(utf8.size()));
  cairo_save(cr_);
  cairo_set_source_rgb(cr_, ((font_.colorRgb >> 16) & 0xFF) / 255.0,
                       ((font_.colorRgb >> 8) & 0xFF) / 255.0, (font_.colorRgb & 0xFF) / 255.0);
  cairo_move_to(cr_, x, y);
  pango_cairo_show_layout(cr_, text_->layout);
  cairo_restore(cr_);
}

struct ImageCanvas::Impl {
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  ~Impl() {
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }
};

ImageCanvas::ImageCanvas(int32_t width, int32_t height, int32_t dpiX, int32_t dpiY)
    : impl_(std::make_unique<Impl>()) {
  impl_->surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 1), std::max(height, 1));
  impl_->cr = cairo_create(impl_->surface);
  cairo_set_source_rgb(impl_->cr, 1, 1, 1);
  cairo_paint(impl_->cr);
  canvas_ = std::make_unique<CairoCanvas>(impl_->cr, dpiX, dpiY);
}

ImageCanvas::~ImageCanvas() {
  canvas_.reset();
}

Bitmap ImageCanvas::Snapshot() {
  cairo_surface_flush(impl_->surface);
  Bitmap b;
  b.width = cairo_image_surface_get_width(impl_->surface);
  b.height = cairo_image_surface_get_height(impl_->surface);
  b.stride = cairo_image_surface_get_stride(impl_->surface);
  const uint8_t* data = cairo_image_surface_get_data(impl_->surface);
  b.bgra.assign(data, data + static_cast<std::size_t>(b.stride) * b.height);
  return b;
}

}  // namespace vellumora
