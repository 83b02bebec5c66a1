// The document printer: cairo PDF pages, submitted to the print server as one job.
#include "output/printer-object.h"

#include "output/job-data.h"
#include "platform/cairo/pdf-document.h"

namespace vellumora {

PrinterObject::PrinterObject(std::string tempDir) : tempDir_(std::move(tempDir)) {
  Refresh();
}

PrinterObject::~PrinterObject() {
  Abort();
}

bool PrinterObject::Refresh() {
  if (Printing()) return false;
  const std::string keep = CurrentName();
  printers_ = printers::Names();
  current_ = -1;
  for (std::size_t i = 0; i < printers_.size(); ++i)
    if (printers_[i] == keep) current_ = static_cast<int>(i);
  return true;
}

bool PrinterObject::SetCurrent(int index) {
  if (Printing() || index < 0 || index >= static_cast<int>(printers_.size())) return false;
  current_ = index;
  return true;
}

std::string PrinterObject::CurrentName() const {
  return current_ >= 0 && current_ < static_cast<int>(printers_.size()) ? printers_[current_]
                                                                        : std::string();
}

bool PrinterObject::SetOrientation(Orientation o) {
  if (Printing()) return false;
  orientation_ = o;
  return true;
}

std::optional<printers::PageMetrics> PrinterObject::Metrics() const {
  auto m = printers::ReadPageMetrics(CurrentName());
  if (m && orientation_ == Orientation::kLandscape) {
    std::swap(m->dpiX, m->dpiY);
    std::swap(m->paperWidth, m->paperHeight);
    std::swap(m->offsetX, m->offsetY);
    std::swap(m->printableWidth, m->printableHeight);
  }
  return m;
}

bool PrinterObject::BeginDoc() {
  if (Printing() || CurrentName().empty()) return false;
  auto m = Metrics();
  if (!m) return false;
  FileHandle file = OpenTempFile(tempDir_, nullptr);
  if (!file.valid()) return false;
  PageSetup page;
  page.dpiX = m->dpiX;
  page.dpiY = m->dpiY;
  page.paperWidth = m->paperWidth;
  page.paperHeight = m->paperHeight;
  page.originX = m->offsetX;
  page.originY = m->offsetY;
  documentFile_ = std::move(file);
  document_ = PdfDocument::Create(documentFile_.get(), page);
  if (!document_) {
    documentFile_.Close();
    return false;
  }
  documentPrinter_ = CurrentName();
  return true;
}

Canvas& PrinterObject::canvas() {
  return document_->canvas();
}

void PrinterObject::NewPage() {
  if (document_) document_->NewPage();
}

int32_t PrinterObject::PageNumber() const {
  return document_ ? document_->PageCount() : 0;
}

bool PrinterObject::EndDoc(const std::string& documentName,
                           const std::function<bool(int32_t)>& created, std::string* error) {
  if (!document_) return false;
  const bool written = document_->Finish();
  document_.reset();
  bool ok = false;
  if (!written) {
    if (error) *error = "the document could not be written";
  } else if (auto job = printers::StreamJob::Start(documentPrinter_, title, documentName,
                                                   "application/pdf", 1, created, error)) {
    std::vector<uint8_t> buffer(64 * 1024);
    ok = SendFileData(*job, documentFile_.get(), buffer, error) && job->Finish(error);
    if (!ok) job->Cancel();
    if (ok) lastJobId_ = job->JobId();
  }
  documentFile_.Close();
  return ok;
}

void PrinterObject::Abort() {
  if (!document_) return;
  document_.reset();
  documentFile_.Close();
}

}  // namespace vellumora
