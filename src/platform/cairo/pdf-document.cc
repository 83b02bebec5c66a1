// PDF documents on cairo's PDF surface; the user unit is one printer dot.
#include "platform/cairo/pdf-document.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include "platform/cairo/cairo-canvas.h"

namespace vellumora {

struct PdfDocument::Impl {
  PageSetup page;
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  std::unique_ptr<CairoCanvas> canvas;
  ~Impl() {
    canvas.reset();
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }
};

std::unique_ptr<PdfDocument> PdfDocument::Create(const std::string& path, const PageSetup& page) {
  if (page.dpiX <= 0 || page.dpiY <= 0 || page.paperWidth <= 0 || page.paperHeight <= 0)
    return nullptr;
  std::unique_ptr<PdfDocument> doc(new PdfDocument);
  doc->impl_ = std::make_unique<Impl>();
  doc->impl_->page = page;
  doc->impl_->surface = cairo_pdf_surface_create(path.c_str(), page.paperWidth * 72.0 / page.dpiX,
                                                 page.paperHeight * 72.0 / page.dpiY);
  if (cairo_surface_status(doc->impl_->surface) != CAIRO_STATUS_SUCCESS) return nullptr;
  doc->impl_->cr = cairo_create(doc->impl_->surface);
  doc->BeginPage();
  return doc;
}

PdfDocument::~PdfDocument() = default;

void PdfDocument::BeginPage() {
  cairo_t* cr = impl_->cr;
  const PageSetup& p = impl_->page;
  cairo_identity_matrix(cr);
  cairo_scale(cr, 72.0 / p.dpiX, 72.0 / p.dpiY);
  cairo_translate(cr, p.originX, p.originY);
  impl_->canvas = std::make_unique<CairoCanvas>(cr, p.dpiX, p.dpiY);
  ++pages_;
}

Canvas& PdfDocument::canvas() {
  return *impl_->canvas;
}

void PdfDocument::NewPage() {
  cairo_show_page(impl_->cr);
  BeginPage();
}

bool PdfDocument::Finish() {
  cairo_show_page(impl_->cr);
  cairo_surface_finish(impl_->surface);
  impl_->canvas.reset();  // after the pages are written: the canvas keeps their pictures
  cairo_destroy(impl_->cr);
  impl_->cr = nullptr;
  bool ok = cairo_surface_status(impl_->surface) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(impl_->surface);
  impl_->surface = nullptr;
  return ok;
}

}  // namespace vellumora
