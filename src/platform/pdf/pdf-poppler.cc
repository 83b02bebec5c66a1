// PDF documents on poppler: poppler-glib renders through cairo, poppler-cpp with Splash.
#include <cairo.h>
#include <fcntl.h>
#include <poppler.h>
#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/pdf.h"

namespace vellumora::pdf {

namespace {

std::mutex gSinkMutex;
std::function<void(const std::string&)> gSink;

void RouteMessage(const std::string& message, void*) {
  std::lock_guard lock(gSinkMutex);
  if (gSink) gSink(message);
}

// poppler-cpp's debug function is poppler's own error callback, for both front ends.
void RouteMessagesOnce() {
  static std::once_flag once;
  std::call_once(once, [] { poppler::set_debug_error_function(RouteMessage, nullptr); });
}

// A one-page PDF with correct cross references, built in memory.
std::string TinyPdf() {
  const char* objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 72 72] >>",
  };
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (int i = 0; i < 3; ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 4\n0000000000 65535 f \n";
  for (std::size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

bool SizeFits(double widthPt, double heightPt, int32_t dpi, uint64_t maxPixels, int* w, int* h) {
  const double pw = std::ceil(widthPt * dpi / 72.0), ph = std::ceil(heightPt * dpi / 72.0);
  if (!(pw >= 1 && ph >= 1) || pw > 1e6 || ph > 1e6) return false;
  if (pw * ph > static_cast<double>(maxPixels)) return false;
  *w = static_cast<int>(pw);
  *h = static_cast<int>(ph);
  return true;
}

class CairoDocument final : public Document {
 public:
  explicit CairoDocument(PopplerDocument* doc) : doc_(doc) {}
  ~CairoDocument() override { g_object_unref(doc_); }

  int32_t PageCount() const override { return poppler_document_get_n_pages(doc_); }
  bool PrintScalingNone() const override {
    return poppler_document_get_print_scaling(doc_) == POPPLER_PRINT_SCALING_NONE;
  }
  Duplex DuplexPreference() const override {
    switch (poppler_document_get_print_duplex(doc_)) {
      case POPPLER_PRINT_DUPLEX_SIMPLEX:
        return Duplex::kSimplex;
      case POPPLER_PRINT_DUPLEX_DUPLEX_FLIP_SHORT_EDGE:
        return Duplex::kFlipShortEdge;
      case POPPLER_PRINT_DUPLEX_DUPLEX_FLIP_LONG_EDGE:
        return Duplex::kFlipLongEdge;
      default:
        return Duplex::kNone;
    }
  }

  bool RenderPage(int32_t page, int32_t dpi, uint64_t maxPixels, Bitmap* out) override {
    if (page < 1 || page > PageCount() || dpi < 1) return false;
    PopplerPage* p = poppler_document_get_page(doc_, page - 1);
    if (!p) return false;
    double wPt = 0, hPt = 0;
    poppler_page_get_size(p, &wPt, &hPt);
    int w = 0, h = 0;
    if (!SizeFits(wPt, hPt, dpi, maxPixels, &w, &h)) {
      g_object_unref(p);
      return false;
    }
    // The page is drawn straight into the bitmap's memory, reusing what the bitmap holds: a
    // fresh page-sized buffer each time costs more in zeroing and page faults than drawing.
    Bitmap bitmap = std::move(*out);
    bitmap.jpegFile.reset();
    bitmap.width = w;
    bitmap.height = h;
    bitmap.stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
    bitmap.bgra.resize(static_cast<std::size_t>(bitmap.stride) * h);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        bitmap.bgra.data(), CAIRO_FORMAT_ARGB32, w, h, bitmap.stride);
    cairo_t* cr = cairo_create(surface);
    // Printing renders no paper of its own: white first.
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, dpi / 72.0, dpi / 72.0);
    poppler_page_render_for_printing(p, cr);
    const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    g_object_unref(p);
    *out = std::move(bitmap);
    return ok;
  }

 private:
  PopplerDocument* doc_;
};

class SplashDocument final : public Document {
 public:
  SplashDocument(std::vector<char> data, poppler::document* doc)
      : data_(std::move(data)), doc_(doc) {}
  ~SplashDocument() override { delete doc_; }

  int32_t PageCount() const override { return doc_->pages(); }
  // poppler-cpp does not expose the viewer preferences.
  bool PrintScalingNone() const override { return false; }
  Duplex DuplexPreference() const override { return Duplex::kNone; }

  bool RenderPage(int32_t page, int32_t dpi, uint64_t maxPixels, Bitmap* out) override {
    if (page < 1 || page > PageCount() || dpi < 1) return false;
    std::unique_ptr<poppler::page> p(doc_->create_page(page - 1));
    if (!p) return false;
    const poppler::rectf box = p->page_rect(poppler::media_box);
    int w = 0, h = 0;
    if (!SizeFits(box.width(), box.height(), dpi, maxPixels, &w, &h)) return false;
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    renderer.set_image_format(poppler::image::format_argb32);
    poppler::image image = renderer.render_page(p.get(), dpi, dpi);
    if (!image.is_valid() || image.width() < 1 || image.height() < 1) return false;
    Bitmap bitmap;
    bitmap.width = image.width();
    bitmap.height = image.height();
    bitmap.stride = bitmap.width * 4;
    bitmap.bgra.resize(static_cast<std::size_t>(bitmap.stride) * bitmap.height);
    const char* src = image.const_data();
    for (int y = 0; y < bitmap.height; ++y)
      std::memcpy(bitmap.bgra.data() + static_cast<std::size_t>(y) * bitmap.stride,
                  src + static_cast<std::size_t>(y) * image.bytes_per_row(),
                  static_cast<std::size_t>(bitmap.stride));
    *out = std::move(bitmap);
    return true;
  }

 private:
  std::vector<char> data_;  // poppler-cpp reads from this memory for the document's life
  poppler::document* doc_;
};

std::unique_ptr<Document> OpenCairo(PopplerDocument* doc, GError* gerror, std::string* error) {
  if (!doc) {
    if (error) *error = gerror && gerror->message ? gerror->message : "not a readable PDF file";
    if (gerror) g_error_free(gerror);
    return nullptr;
  }
  return std::make_unique<CairoDocument>(doc);
}

constexpr int64_t kMaxSplashBytes = 256LL * 1024 * 1024;
constexpr int64_t kSparseCheckBytes = 16LL * 1024 * 1024;

std::unique_ptr<Document> OpenSplash(std::vector<char> data, std::string* error) {
  if (data.size() > static_cast<std::size_t>(INT32_MAX)) {
    if (error) *error = "the file is too large for the Splash renderer";
    return nullptr;
  }
  poppler::document* doc =
      poppler::document::load_from_raw_data(data.data(), static_cast<int>(data.size()));
  if (!doc || doc->is_locked()) {
    delete doc;
    if (error) *error = "not a readable PDF file, or it needs a password";
    return nullptr;
  }
  return std::make_unique<SplashDocument>(std::move(data), doc);
}

}  // namespace

void SetMessageSink(std::function<void(const std::string&)> sink) {
  RouteMessagesOnce();
  std::lock_guard lock(gSinkMutex);
  gSink = std::move(sink);
}

bool CairoModuleWorks() {
  RouteMessagesOnce();
  const std::string tiny = TinyPdf();
  GBytes* bytes = g_bytes_new(tiny.data(), tiny.size());
  PopplerDocument* doc = poppler_document_new_from_bytes(bytes, nullptr, nullptr);
  g_bytes_unref(bytes);
  if (!doc) return false;
  const bool ok = poppler_document_get_n_pages(doc) == 1;
  g_object_unref(doc);
  return ok;
}

bool SplashModuleWorks() {
  RouteMessagesOnce();
  const std::string tiny = TinyPdf();
  std::unique_ptr<poppler::document> doc(
      poppler::document::load_from_raw_data(tiny.data(), static_cast<int>(tiny.size())));
  return doc && doc->pages() == 1;
}

std::unique_ptr<Document> Document::Open(int fd, Renderer renderer, std::string* error) {
  RouteMessagesOnce();
  // poppler rebuilds a damaged file's cross references by reading it from end to end. A file
  // whose size is mostly holes (a few bytes made to claim gigabytes) would keep it reading
  // zeros for hours; such a file is no document anyone printed.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size <= 0) {
    if (error) *error = "the file is empty or cannot be read";
    return nullptr;
  }
  const int64_t allocated = static_cast<int64_t>(st.st_blocks) * 512;
  if (st.st_size > kSparseCheckBytes && allocated < st.st_size / 2) {
    if (error) *error = "the file is mostly holes";
    return nullptr;
  }
  if (renderer == Renderer::kSplash) {
    const FileIdentity id = IdentityOf(fd);
    if (id.size <= 0) {
      if (error) *error = "the file is empty or cannot be read";
      return nullptr;
    }
    // Splash reads the document from memory: never more than this, whatever size a (perhaps
    // sparse) file claims. Larger documents go to the cairo module, which reads the file.
    if (id.size <= kMaxSplashBytes) {
      std::vector<char> data(static_cast<std::size_t>(id.size));
      const int64_t got = ReadAt(fd, data.data(), data.size(), 0);
      if (got < 0) {
        if (error) *error = "the file cannot be read";
        return nullptr;
      }
      data.resize(static_cast<std::size_t>(got));
      return OpenSplash(std::move(data), error);
    }
  }
  // poppler takes the duplicate over and reads it at positions of its own.
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    if (error) *error = "the file cannot be read";
    return nullptr;
  }
  GError* gerror = nullptr;
  PopplerDocument* doc = poppler_document_new_from_fd(copy, nullptr, &gerror);
  return OpenCairo(doc, gerror, error);
}

}  // namespace vellumora::pdf
