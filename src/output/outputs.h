// The output subsystem: the printer object, the printer driver settings and the outputs for
// each kind of file, offered to the engine core through its OutputPort.
#pragma once

#include <memory>
#include <string>

#include "kernel/kernel.h"
#include "kernel/output-port.h"
#include "output/printer-object.h"
#include "output/watermark-bitmap.h"

namespace vellumora {

// The main window's preview while a picture is printed; absent in service and headless runs.
class PreviewPort;

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
  OutputEnd PrintPdfFile(const std::string& path, const std::string& printerName,
                         const std::string& name, bool ownThread) override;
  OutputEnd PrintBitmapFile(const std::string& path, int32_t copies, int32_t totalPages,
                            int32_t pageNumber, const std::string& name) override;
  OutputEnd PrintTextFile(const std::string& path, int32_t copies,
                          const std::string& name) override;
  OutputEnd PrintRawFile(const std::string& path, const std::string& printerName,
                         const std::string& name) override;

  // Printer driver settings and paper.
  bool RestorePrinterDefaults();
  bool ReadPrinterMetrics(const std::string& printerName, PageGeometry& geometry);
  bool ResetPrinterObject(const std::string& printerName);
  bool SetPrinterDefaultPaper(const std::string& printerName, int32_t paperCode, int32_t widthMm,
                              int32_t heightMm);

  // Picture printing (bitmap-print.cc, note-watermark.cc).
  // Loads frame `frame` (from 1) of a picture file into `bitmap` and returns the number of
  // frames in the file, 0 (after logging) when it cannot be loaded. Sets imageDpiX/Y.
  // pixelsOptional: see pictures::LoadFrame (for pages that go only to the printer).
  int32_t LoadGraphicFrame(Bitmap& bitmap, const std::string& path, int32_t frame,
                           bool pixelsOptional = false);
  // Loads the watermark picture from the data folder; due each time scanning starts.
  void LoadWatermark();

  PrinterObject& printer() { return *printer_; }
  C_Kernel& kernel() { return kernel_; }
  WatermarkBitmap& watermark() { return watermark_; }
  PreviewPort* preview = nullptr;

 private:
  C_Kernel& kernel_;
  WatermarkBitmap& watermark_;
  std::unique_ptr<PrinterObject> printer_;
};

}  // namespace vellumora
