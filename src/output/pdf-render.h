// Rendering every page of a PDF into TIFF files "pdftemp<p>.tif" of a folder, on every core.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/pdf.h"

namespace vellumora {

// Where page `page` (from 1) of a rendering lands.
std::string PdfPageFile(const std::string& folder, int32_t page);

struct PdfRenderJob {
  int fd = -1;         // the PDF; each rendering thread opens its own document on it
  std::string folder;  // where the page files go (nobody else may write there)
  int32_t dpi = 300;
  pdf::Renderer renderer = pdf::Renderer::kCairo;
  std::function<bool()> stopAsked;
};

enum class PdfRenderResult { kDone, kFailed, kNoRoom, kStopped };

// Renders pages 1 to `pages` of `first` (opened on job.fd). The first page is rendered alone,
// then the rest on as many threads as the machine has cores, one document and one page bitmap
// per thread at a time. Each page is written deflate-compressed with its resolution; a page that
// would not fit the free space of the folder even uncompressed ends the rendering (kNoRoom).
PdfRenderResult RenderPdfPages(const PdfRenderJob& job, pdf::Document& first, int32_t pages);

}  // namespace vellumora
