// The output subsystem: the printer object, the printer driver settings and the outputs for
// each kind of file, offered to the engine core through its OutputPort.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "kernel/kernel.h"
#include "kernel/output-port.h"
#include "output/printer-object.h"
#include "output/watermark-bitmap.h"

namespace vellumora {

// The main window's preview while a picture is printed; absent in service and headless runs.
class PreviewPort;

// One frame of a picture file as printing reads it, with no effect on the kernel's job state.
struct LoadedFrame {
  // Frames in the file; 0 when it cannot be loaded or is too large to decode.
  int32_t count = 0;
  // The frame's resolution as printing uses it: a TIFF frame's own, else 0 (one printer dot
  // per pixel).
  int32_t dpiX = 0;
  int32_t dpiY = 0;
  std::string failure;    // the log line of a file that cannot be loaded
  bool tooLarge = false;  // refused unread for its declared size
  std::string detail;     // why a damaged file could not be decoded, for the debug log
};

// Loads frame `frame` (from 1) of the picture file open as `fd` into `bitmap`; read only through
// `fd`, `path` choosing the decoder by the picture type it names. Logs nothing and touches no
// shared state, so any thread may call it. pixelsOptional: see pictures::LoadFrame.
LoadedFrame ReadGraphicFrame(Bitmap& bitmap, int fd, const std::string& path, int32_t frame,
                             bool pixelsOptional = false);

// Set while a PDF worker thread runs (from before it starts until its work is done), and the
// page count its rendering found.
extern std::atomic<uint8_t> pdfThreadRunning;
extern std::atomic<int32_t> pdfPageCount;

class Outputs final : public OutputPort {
 public:
  Outputs(C_Kernel& kernel, WatermarkBitmap& watermark);
  ~Outputs() override;

  // OutputPort.
  std::vector<std::string> PrinterNames() override;
  bool OpenPrinterCheck(const std::string& printerName) override;
  bool SelectPrinter(const std::string& printerName) override;
  bool PrepareChannelPrinter(int32_t index) override;
  int32_t TestPrinterAccess(const std::string& printerName) override;
  OutputReport PrintPdfFile(const OutputJob& job) override;
  OutputReport PrintBitmapFile(const OutputJob& job) override;
  OutputReport PrintTextFile(const OutputJob& job) override;
  OutputReport PrintRawFile(const OutputJob& job) override;
  JobFate AskJob(const std::string& printerName, int32_t jobId) override;
  bool CancelJob(const std::string& printerName, int32_t jobId) override;

  // Picture printing as PDF pages use it: one call prints page `pageNumber` of `totalPages`
  // and keeps the document open until the last page. PrintBitmapFile is the call with both 0:
  // the whole file, every frame and every copy, in one document that is always closed.
  OutputReport PrintBitmapPages(const OutputJob& job, int32_t totalPages, int32_t pageNumber);

  // Printer driver settings and paper.
  bool RestorePrinterDefaults();
  bool ReadPrinterMetrics(const std::string& printerName, PageGeometry& geometry);
  bool ResetPrinterObject(const std::string& printerName);
  bool SetPrinterDefaultPaper(const std::string& printerName, int32_t paperCode, int32_t widthMm,
                              int32_t heightMm);
  // The same for a paper the print server names ("na_index-4x6_4x6in"), which has no paper
  // code of its own.
  bool SetPrinterDefaultMedia(const std::string& printerName, const std::string& media);

  // Picture printing (bitmap-print.cc, note-watermark.cc).
  // Loads frame `frame` (from 1) of the picture file open as `fd` into `bitmap` and returns the
  // number of frames in the file, 0 (after logging) when it cannot be loaded or is too large to
  // decode (ReadGraphicFrame, its failure logged). Sets imageDpiX/Y.
  // pixelsOptional: see pictures::LoadFrame (for pages that go only to the printer).
  int32_t LoadGraphicFrame(Bitmap& bitmap, int fd, const std::string& path, int32_t frame,
                           bool pixelsOptional = false);
  // The same for a picture file of our own (the watermark), opened here by its path.
  int32_t LoadGraphicFrame(Bitmap& bitmap, const std::string& path, int32_t frame,
                           bool pixelsOptional = false);
  // Loads the watermark picture from the data folder; due each time scanning starts.
  void LoadWatermark();
  // Proves that the PDF renderers work and logs the two module lines; due each time scanning
  // starts and before a test printout. A PDF job fails while module 1 is not ready.
  void InitPdfModules();

  PrinterObject& printer() { return *printer_; }
  C_Kernel& kernel() { return kernel_; }
  WatermarkBitmap& watermark() { return watermark_; }
  PreviewPort* preview = nullptr;

 private:
  C_Kernel& kernel_;
  WatermarkBitmap& watermark_;
  std::unique_ptr<PrinterObject> printer_;
  bool pdfModule1Ready_ = false;
  bool pdfModule2Ready_ = false;

  // Makes `media` the printer's default paper, logging a refusal.
  bool WriteDefaultMedia(const std::string& printerName, const std::string& media);

  // PDF through bitmaps: every copy of the rendered pages as a document of its own.
  OutputReport PrintRenderedPages(const OutputJob& job, const std::string& folder, int32_t pages,
                                  int32_t copies);
  void RemovePageFiles(const std::string& folder, int32_t pages);
};

}  // namespace vellumora
