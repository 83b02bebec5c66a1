// Fuzz target: opening an untrusted PDF file with both renderers, counting its pages, reading
// its preferences and rendering its first page small. Nothing may crash or hang.
#include <cstdint>
#include <cstdlib>

#include "platform/files.h"
#include "platform/pdf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vellumora::FileHandle file = vellumora::OpenTempFile("/tmp", nullptr);
  if (!file.valid() || !vellumora::WriteAll(file.get(), data, size)) std::abort();
  for (auto renderer : {vellumora::pdf::Renderer::kCairo, vellumora::pdf::Renderer::kSplash}) {
    auto doc = vellumora::pdf::Document::Open(file.get(), renderer, nullptr);
    if (!doc) continue;
    doc->PrintScalingNone();
    doc->DuplexPreference();
    vellumora::Bitmap page;
    if (doc->PageCount() > 0) doc->RenderPage(1, 10, 1 << 20, &page);
  }
  return 0;
}
