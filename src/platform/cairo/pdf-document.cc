// PDF documents on cairo's PDF surface; the user unit is one printer dot.
#include "platform/cairo/pdf-document.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include "platform/cairo/cairo-canvas.h"
#include "platform/files.h"

namespace vellumora {

struct PdfDocument::Impl {
  PageSetup page;
  int fd = -1;
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;
  std::unique_ptr<CairoCanvas> canvas;
  ~Impl() {
    canvas.reset();
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }
};

namespace {
cairo_status_t WriteToDescriptor(void* closure, const unsigned char* data, unsigned int length) {
  return WriteAll(*static_cast<int*>(closure), data, length) ? CAIRO_STATUS_SUCCESS
                                                             : CAIRO_STATUS_WRITE_ERROR;
}
}  // namespace

std::unique_ptr<PdfDocument> PdfDocument::Create(int fd, const PageSetup& page) {
  if (page.dpiX <= 0 || page.dpiY <= 0 || page.paperWidth <= 0 || page.paperHeight <= 0)
    return nullptr;
  std::unique_ptr<PdfDocument> doc(new PdfDocument);
  doc->impl_ = std::make_unique<Impl>();
  doc->impl_->page = page;
  doc->impl_->fd = fd;
  doc->impl_->surface = cairo_pdf_surface_create_for_stream(WriteToDescriptor, &doc->impl_->fd,
                                                            page.paperWidth * 72.0 / page.dpiX,
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
