// RenderPdfPages: the pages of a PDF into TIFF files, the first alone, then on every core.
#include "output/pdf-render.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/pictures.h"

namespace vellumora {

std::string PdfPageFile(const std::string& folder, int32_t page) {
  return folder + "/pdftemp" + std::to_string(page) + ".tif";
}

PdfRenderResult RenderPdfPages(const PdfRenderJob& job, pdf::Document& first, int32_t pages) {
  const uint64_t maxPixels = pictures::MaxDecodedBytes() / 4;
  std::atomic<int> failure{static_cast<int>(PdfRenderResult::kDone)};
  auto fail = [&](PdfRenderResult why) {
    int expected = static_cast<int>(PdfRenderResult::kDone);
    failure.compare_exchange_strong(expected, static_cast<int>(why));
  };
  auto failed = [&] { return failure.load() != static_cast<int>(PdfRenderResult::kDone); };
  auto stop = [&] { return job.stopAsked && job.stopAsked(); };
  auto render = [&](pdf::Document& doc, int32_t page, Bitmap& bitmap) {
    if (!doc.RenderPage(page, job.dpi, maxPixels, &bitmap)) return fail(PdfRenderResult::kFailed);
    // Never fill the disk: the page must fit even uncompressed.
    const int64_t room = FreeBytes(job.folder);
    if (room >= 0 && static_cast<uint64_t>(room) < bitmap.bgra.size())
      return fail(PdfRenderResult::kNoRoom);
    if (!pictures::WriteTiff(bitmap, job.dpi, PdfPageFile(job.folder, page), nullptr))
      fail(PdfRenderResult::kFailed);
  };

  // The first page alone: poppler sets up its colour management on first use, which is not
  // safe to race.
  if (pages < 1) return PdfRenderResult::kFailed;
  try {
    Bitmap bitmap;
    render(first, 1, bitmap);
  } catch (const std::exception&) {
    fail(PdfRenderResult::kFailed);
  }
  std::atomic<int32_t> next{2};
  auto work = [&](pdf::Document* doc) {
    std::unique_ptr<pdf::Document> own;
    if (!doc) {
      own = pdf::Document::Open(job.fd, job.renderer, nullptr);
      if (!own) return fail(PdfRenderResult::kFailed);
      doc = own.get();
    }
    Bitmap bitmap;  // one page's memory per thread, reused page after page
    for (int32_t page = next++; page <= pages && !failed() && !stop(); page = next++)
      render(*doc, page, bitmap);
  };
  // No exception leaves a thread: a page that cannot be had (memory) fails the rendering.
  auto worker = [&](pdf::Document* doc) {
    try {
      work(doc);
    } catch (const std::exception&) {
      fail(PdfRenderResult::kFailed);
    }
  };
  const auto cores = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  const int32_t threads = std::clamp<int32_t>(cores, 1, std::max(pages - 1, 1));
  if (!failed() && pages > 1) {
    std::vector<std::thread> helpers;
    for (int32_t t = 1; t < threads; ++t) {
      try {
        helpers.emplace_back(worker, nullptr);
      } catch (...) {
        break;  // no more threads to be had: the ones there are do the work
      }
    }
    worker(&first);
    for (std::thread& t : helpers) t.join();
  }
  if (failed()) return static_cast<PdfRenderResult>(failure.load());
  return stop() ? PdfRenderResult::kStopped : PdfRenderResult::kDone;
}

}  // namespace vellumora
