// PDF documents on poppler: loading from an open file, the page count, the viewer
// preferences that printing honours, and rendering pages into bitmaps. Two renderers: poppler
// through cairo (module 1, the default) and poppler's own Splash engine (module 2). Nothing of
// poppler leaks out of here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/canvas.h"

namespace vellumora::pdf {

enum class Renderer { kCairo, kSplash };

// Opening a tiny document built in memory proves that a module works.
bool CairoModuleWorks();
bool SplashModuleWorks();

// Where poppler's own complaints about damaged files go (nowhere until set). Process-wide.
void SetMessageSink(std::function<void(const std::string&)> sink);

enum class Duplex { kNone, kSimplex, kFlipShortEdge, kFlipLongEdge };

class Document {
 public:
  // Opens the PDF behind the descriptor (which stays the caller's; the document reads through
  // a duplicate of it). Empty, with the reason in *error, for a file that cannot be read, is
  // damaged beyond repair, or needs a password. With kSplash the file is read into memory.
  static std::unique_ptr<Document> Open(int fd, Renderer renderer, std::string* error);
  virtual ~Document() = default;

  virtual int32_t PageCount() const = 0;
  // The document asks not to scale its pages to the paper (PrintScaling None).
  virtual bool PrintScalingNone() const = 0;
  virtual Duplex DuplexPreference() const = 0;
  // Renders page `page` (from 1) at `dpi` onto white paper as opaque BGRA into *out, reusing
  // its memory when it has some. False when the page is missing, larger than `maxPixels`, or
  // cannot be rendered.
  virtual bool RenderPage(int32_t page, int32_t dpi, uint64_t maxPixels, Bitmap* out) = 0;
};

}  // namespace vellumora::pdf
