// The canvas on cairo and pango.
#include "platform/cairo/cairo-canvas.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
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

// Text on `context` in device units: points are points at `dpi` (pango assumes 96), and it
// measures the same on every surface (no glyph rounding, no hinted metrics).
void SetUpTextContext(PangoContext* context, int32_t dpi) {
  pango_cairo_context_set_resolution(context, dpi > 0 ? dpi : 96);
  pango_context_set_round_glyph_positions(context, FALSE);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
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
  SetUpTextContext(pango_layout_get_context(text_->layout), dpiY_);
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
  if (sourceWidth == 1 && picture.jpegFile) {
    // The file's image as stored fills the unit square; turned or mirrored there, it stands as
    // shown. Each matrix maps a stored point (u, v) of the square to where it is shown.
    static constexpr double kTurns[9][6] = {
        {1, 0, 0, 1, 0, 0},   {1, 0, 0, 1, 0, 0},   {-1, 0, 0, 1, 1, 0},
        {-1, 0, 0, -1, 1, 1}, {1, 0, 0, -1, 0, 1},  {0, 1, 1, 0, 0, 0},
        {0, 1, -1, 0, 1, 0},  {0, -1, -1, 0, 1, 1}, {0, -1, 1, 0, 0, 1}};
    const int32_t o =
        picture.jpegOrientation >= 1 && picture.jpegOrientation <= 8 ? picture.jpegOrientation : 1;
    cairo_matrix_t turn;
    cairo_matrix_init(&turn, kTurns[o][0], kTurns[o][1], kTurns[o][2], kTurns[o][3], kTurns[o][4],
                      kTurns[o][5]);
    cairo_transform(cr_, &turn);
  }
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
  // Raster pages: a bitwise AND per channel, the picture scaled nearest-neighbour onto the
  // pixels whose centres `dest` covers. The canvas may be scaled and moved (a page proof in
  // printer dots), so the corners are taken to pixels first.
  cairo_surface_flush(target);
  uint8_t* data = cairo_image_surface_get_data(target);
  const int width = cairo_image_surface_get_width(target);
  const int height = cairo_image_surface_get_height(target);
  const int stride = cairo_image_surface_get_stride(target);
  if (!data) return;
  double x0 = dest.left, y0 = dest.top, x1 = dest.right, y1 = dest.bottom;
  cairo_user_to_device(cr_, &x0, &y0);
  cairo_user_to_device(cr_, &x1, &y1);
  const auto pixel = [](double v) {
    return static_cast<int64_t>(std::ceil(std::clamp(v, -1e15, 1e15) - 0.5));
  };
  const int64_t left = pixel(x0), top = pixel(y0), right = pixel(x1), bottom = pixel(y1);
  const int64_t dw = right - left, dh = bottom - top;
  if (dw <= 0 || dh <= 0) return;
  for (int64_t ty = std::max<int64_t>(top, 0); ty < std::min<int64_t>(bottom, height); ++ty) {
    const auto sy = static_cast<std::size_t>((ty - top) * picture.height / dh);
    const uint8_t* srcRow = picture.bgra.data() + sy * picture.stride;
    uint8_t* dstRow = data + static_cast<std::size_t>(ty) * stride;
    for (int64_t tx = std::max<int64_t>(left, 0); tx < std::min<int64_t>(right, width); ++tx) {
      const auto sx = static_cast<std::size_t>((tx - left) * picture.width / dw);
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
    : ImageCanvas(width, height, dpiX, dpiY, ImagePlacement{}) {}

ImageCanvas::ImageCanvas(int32_t width, int32_t height, int32_t dpiX, int32_t dpiY,
                         const ImagePlacement& placement)
    : impl_(std::make_unique<Impl>()) {
  impl_->surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 1), std::max(height, 1));
  impl_->cr = cairo_create(impl_->surface);
  cairo_set_source_rgb(impl_->cr, 1, 1, 1);
  cairo_paint(impl_->cr);
  // As a PDF page is set up: scaled to its units first, then moved to its origin. The canvas
  // (and its text layout) is made after, so it measures in those units.
  if (placement.scaleX > 0 && placement.scaleY > 0)
    cairo_scale(impl_->cr, placement.scaleX, placement.scaleY);
  cairo_translate(impl_->cr, placement.originX, placement.originY);
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

namespace vellumora {

namespace {

// Characters that end or break a pango line, or are not meant to be seen: never shaped.
bool IsControl(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

// A run of characters shaped on its own: words are cut into pieces of at most this many
// characters, so a line without blanks is shaped in small layouts.
constexpr std::size_t kMaxPiece = 48;
// Shaped pieces kept; the cache starts afresh beyond this (a file of random words).
constexpr std::size_t kMaxCachedPieces = 50000;

class CairoLineTypesetter final : public LineTypesetter {
 public:
  CairoLineTypesetter(cairo_t* cr, int32_t dpi) {
    context_ = pango_cairo_create_context(cr);
    SetUpTextContext(context_, dpi);
    layout_ = pango_layout_new(context_);
    SetFont(FontSpec{});
  }
  ~CairoLineTypesetter() override {
    g_object_unref(layout_);
    g_object_unref(context_);
    for (PangoFont* f : fonts_) g_object_unref(f);
  }

  void SetFont(const FontSpec& font) override {
    font_ = font;
    cache_.clear();
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, font.family.c_str());
    pango_font_description_set_size(desc, static_cast<gint>(font.points * PANGO_SCALE));
    pango_font_description_set_weight(
        desc, (font.style & kBold) ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(
        desc, (font.style & kItalic) ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_layout_set_font_description(layout_, desc);
    PangoFontMetrics* metrics = pango_context_get_metrics(context_, desc, nullptr);
    averageWidth_ = pango_font_metrics_get_approximate_char_width(metrics) / double(PANGO_SCALE);
    underlinePosition_ = pango_font_metrics_get_underline_position(metrics) / double(PANGO_SCALE);
    underlineThickness_ = pango_font_metrics_get_underline_thickness(metrics) / double(PANGO_SCALE);
    strikePosition_ = pango_font_metrics_get_strikethrough_position(metrics) / double(PANGO_SCALE);
    strikeThickness_ =
        pango_font_metrics_get_strikethrough_thickness(metrics) / double(PANGO_SCALE);
    pango_font_metrics_unref(metrics);
    pango_font_description_free(desc);
    pango_layout_set_text(layout_, "AXQ", 3);
    baseline_ = pango_layout_get_baseline(layout_) / double(PANGO_SCALE);
  }

  TextSize MeasureText(std::string_view utf8) override {
    pango_layout_set_text(layout_, utf8.data(), static_cast<int>(utf8.size()));
    PangoRectangle logical;
    pango_layout_get_extents(layout_, nullptr, &logical);
    return {static_cast<int32_t>(std::ceil(static_cast<double>(logical.width) / PANGO_SCALE)),
            static_cast<int32_t>(std::ceil(static_cast<double>(logical.height) / PANGO_SCALE))};
  }

  double AverageCharWidth() override { return averageWidth_; }

  void ShapeLine(std::u32string_view line, std::vector<double>* advances) override {
    advances->assign(line.size(), 0.0);
    line_.clear();
    std::size_t i = 0;
    while (i < line.size()) {
      if (IsControl(line[i])) {
        ++i;
        continue;
      }
      // A piece: blanks together, or up to kMaxPiece characters of a word.
      const bool blank = line[i] == U' ';
      std::size_t j = i + 1;
      while (j < line.size() && j - i < kMaxPiece && !IsControl(line[j]) &&
             (line[j] == U' ') == blank)
        ++j;
      const Piece& piece = Shaped(line.substr(i, j - i));
      for (const Glyph& g : piece.glyphs) {
        line_.push_back(g);
        line_.back().ch += static_cast<uint32_t>(i);
        (*advances)[i + g.ch] += g.width;
      }
      i = j;
    }
    for (double& a : *advances) a = std::max(a, 0.0);
    // Glyphs by character, each cluster's glyphs in their own order.
    std::stable_sort(line_.begin(), line_.end(),
                     [](const Glyph& a, const Glyph& b) { return a.ch < b.ch; });
  }

  void DrawLine(Canvas& canvas, double x, int32_t y, std::size_t begin, std::size_t end,
                const std::vector<double>& offsets) override {
    auto* cairoCanvas = dynamic_cast<CairoCanvas*>(&canvas);
    if (!cairoCanvas || begin >= end || end >= offsets.size()) return;
    cairo_t* cr = cairoCanvas->context();
    cairo_save(cr);
    cairo_set_source_rgb(cr, ((font_.colorRgb >> 16) & 0xFF) / 255.0,
                         ((font_.colorRgb >> 8) & 0xFF) / 255.0, (font_.colorRgb & 0xFF) / 255.0);
    const double baseline = y + baseline_;
    auto first = std::lower_bound(line_.begin(), line_.end(), begin,
                                  [](const Glyph& g, std::size_t c) { return g.ch < c; });
    int32_t runFont = -1;
    glyphs_.clear();
    auto flush = [&] {
      if (glyphs_.empty()) return;
      cairo_set_scaled_font(cr,
                            pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(fonts_[runFont])));
      cairo_show_glyphs(cr, glyphs_.data(), static_cast<int>(glyphs_.size()));
      glyphs_.clear();
    };
    for (auto g = first; g != line_.end() && g->ch < end; ++g) {
      const double gx = x + offsets[g->ch] - offsets[begin] + g->dx;
      const double gy = baseline + g->dy;
      if (g->glyph == PANGO_GLYPH_EMPTY) continue;
      if (g->glyph & PANGO_GLYPH_UNKNOWN_FLAG) {
        // No font has the character: pango draws its box with the code inside.
        flush();
        PangoGlyphString* one = pango_glyph_string_new();
        pango_glyph_string_set_size(one, 1);
        one->glyphs[0].glyph = g->glyph;
        one->glyphs[0].geometry = {static_cast<int>(g->width * PANGO_SCALE), 0, 0};
        one->glyphs[0].attr.is_cluster_start = 1;
        one->log_clusters[0] = 0;
        cairo_move_to(cr, gx, gy);
        pango_cairo_show_glyph_string(cr, fonts_[g->font], one);
        pango_glyph_string_free(one);
        continue;
      }
      if (g->font != runFont) {
        flush();
        runFont = g->font;
      }
      glyphs_.push_back({g->glyph, gx, gy});
    }
    flush();
    const double width = offsets[end] - offsets[begin];
    if (font_.style & kUnderline) {
      cairo_rectangle(cr, x, baseline - underlinePosition_, width, underlineThickness_);
      cairo_fill(cr);
    }
    if (font_.style & kStrikeOut) {
      cairo_rectangle(cr, x, baseline - strikePosition_, width, strikeThickness_);
      cairo_fill(cr);
    }
    cairo_restore(cr);
  }

 private:
  struct Glyph {
    uint32_t glyph = 0;
    uint32_t ch = 0;  // the character that begins its cluster
    uint16_t font = 0;
    float width = 0;  // the glyph's advance
    float dx = 0;     // from the start of its cluster
    float dy = 0;     // from the baseline
  };
  struct Piece {
    std::vector<Glyph> glyphs;
  };

  const Piece& Shaped(std::u32string_view text) {
    key_.assign(text);
    if (auto it = cache_.find(key_); it != cache_.end()) return it->second;
    if (cache_.size() >= kMaxCachedPieces) cache_.clear();
    // UTF-8 for pango, and which character each byte belongs to.
    utf8_.clear();
    byteChar_.clear();
    for (std::size_t c = 0; c < text.size(); ++c) {
      char buf[6];
      const int n = g_unichar_to_utf8(static_cast<gunichar>(text[c]), buf);
      utf8_.append(buf, n);
      byteChar_.insert(byteChar_.end(), n, static_cast<uint32_t>(c));
    }
    byteChar_.push_back(static_cast<uint32_t>(text.size()));
    pango_layout_set_text(layout_, utf8_.data(), static_cast<int>(utf8_.size()));
    Piece piece;
    std::vector<float> clusterWidth(text.size() + 1, 0);
    for (GSList* l = pango_layout_get_lines_readonly(layout_); l; l = l->next) {
      auto* pangoLine = static_cast<PangoLayoutLine*>(l->data);
      for (GSList* r = pangoLine->runs; r; r = r->next) {
        auto* run = static_cast<PangoGlyphItem*>(r->data);
        const uint16_t font = FontIndex(run->item->analysis.font);
        const PangoGlyphString* gs = run->glyphs;
        for (int k = 0; k < gs->num_glyphs; ++k) {
          const PangoGlyphInfo& info = gs->glyphs[k];
          const std::size_t byte =
              static_cast<std::size_t>(run->item->offset + gs->log_clusters[k]);
          Glyph g;
          g.glyph = info.glyph;
          g.ch = byteChar_[std::min(byte, byteChar_.size() - 1)];
          g.font = font;
          g.width = static_cast<float>(info.geometry.width / double(PANGO_SCALE));
          g.dx =
              clusterWidth[g.ch] + static_cast<float>(info.geometry.x_offset / double(PANGO_SCALE));
          g.dy = static_cast<float>(info.geometry.y_offset / double(PANGO_SCALE));
          clusterWidth[g.ch] += g.width;
          piece.glyphs.push_back(g);
        }
      }
    }
    return cache_.emplace(key_, std::move(piece)).first->second;
  }

  uint16_t FontIndex(PangoFont* font) {
    for (std::size_t i = 0; i < fonts_.size(); ++i)
      if (fonts_[i] == font) return static_cast<uint16_t>(i);
    fonts_.push_back(PANGO_FONT(g_object_ref(font)));
    return static_cast<uint16_t>(fonts_.size() - 1);
  }

  PangoContext* context_ = nullptr;
  PangoLayout* layout_ = nullptr;
  FontSpec font_;
  double averageWidth_ = 0, baseline_ = 0;
  double underlinePosition_ = 0, underlineThickness_ = 0;
  double strikePosition_ = 0, strikeThickness_ = 0;
  std::vector<PangoFont*> fonts_;  // every font a glyph came from, referenced
  std::unordered_map<std::u32string, Piece> cache_;
  std::vector<Glyph> line_;  // the line last shaped
  std::vector<cairo_glyph_t> glyphs_;
  std::u32string key_;
  std::string utf8_;
  std::vector<uint32_t> byteChar_;
};

}  // namespace

std::unique_ptr<LineTypesetter> CairoCanvas::CreateLineTypesetter(int32_t dpi) {
  return std::make_unique<CairoLineTypesetter>(cr_, dpi);
}

}  // namespace vellumora
