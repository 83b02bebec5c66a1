// The process's one document printer: a current printer chosen from the machine's printers,
// an orientation, a document title, and a document of pages drawn on a canvas in printer
// dots whose origin is the top left corner of the printable area. Ending the document
// submits it to the printer as one job; aborting it sends nothing.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/files.h"
#include "platform/printers.h"

namespace vellumora {

class PdfDocument;

enum class Orientation { kPortrait, kLandscape };

class PrinterObject {
 public:
  // Documents are written into `tempDir` while they are drawn.
  explicit PrinterObject(std::string tempDir);
  ~PrinterObject();

  // Reads the list of printers again (a fresh printer object); keeps the current printer when
  // it is still there. Refused while a document is open.
  bool Refresh();
  const std::vector<std::string>& Printers() const { return printers_; }
  int CurrentIndex() const { return current_; }
  // Makes entry `index` of Printers() current; refused while a document is open.
  bool SetCurrent(int index);
  std::string CurrentName() const;

  Orientation GetOrientation() const { return orientation_; }
  // Refused (false) while a document is open.
  bool SetOrientation(Orientation o);

  std::string title;

  // The current printer's page in the current orientation.
  std::optional<printers::PageMetrics> Metrics() const;

  bool BeginDoc();
  bool Printing() const { return document_ != nullptr; }
  Canvas& canvas();
  void NewPage();
  int32_t PageNumber() const;
  // Submits the document as one job titled `title` whose document is named `documentName`.
  // `created` learns the job's id before its data is sent. True only when the print server
  // confirmed that it holds the whole job; false with the reason in *error. The document is
  // closed either way.
  bool EndDoc(const std::string& documentName, const std::function<bool(int32_t jobId)>& created,
              std::string* error);
  // The print server's id of the job the last successful EndDoc sent.
  int32_t LastJobId() const { return lastJobId_; }
  void Abort();

 private:
  std::string tempDir_;
  std::vector<std::string> printers_;
  int current_ = -1;
  Orientation orientation_ = Orientation::kPortrait;
  std::unique_ptr<PdfDocument> document_;
  FileHandle documentFile_;  // unnamed: nothing can be swapped in for it
  std::string documentPrinter_;
  int32_t lastJobId_ = 0;
};

}  // namespace vellumora
