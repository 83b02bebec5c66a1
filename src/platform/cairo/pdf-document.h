// A multi-page PDF document in printer dots, written to an open file as it is drawn.
#pragma once

#include <memory>
#include <string>

#include "platform/canvas.h"

namespace vellumora {

struct PageSetup {
  int32_t dpiX = 300, dpiY = 300;
  int32_t paperWidth = 0, paperHeight = 0;  // the sheet in dots, in the page's orientation
  int32_t originX = 0, originY = 0;         // where the canvas origin lies on the sheet
};

class PdfDocument {
 public:
  // Starts the document with its first page, written to the descriptor (which stays the
  // caller's and must outlive the document); empty when the page makes no sense.
  static std::unique_ptr<PdfDocument> Create(int fd, const PageSetup& page);
  ~PdfDocument();
  Canvas& canvas();
  void NewPage();
  // Finishes and closes the file; false when cairo reports an error.
  bool Finish();
  int32_t PageCount() const { return pages_; }

 private:
  PdfDocument() = default;
  void BeginPage();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int32_t pages_ = 0;
};

}  // namespace vellumora
