// The output subsystem's entry: construction and the printer checks the engine core uses.
#include "output/outputs.h"

#include "platform/printers.h"

namespace vellumora {

Outputs::Outputs(C_Kernel& kernel, WatermarkBitmap& watermark)
    : kernel_(kernel),
      watermark_(watermark),
      printer_(std::make_unique<PrinterObject>(kernel.dataDir + "Temp")) {}

Outputs::~Outputs() = default;

std::vector<std::string> Outputs::PrinterNames() {
  return printer_->Printers();
}

bool Outputs::OpenPrinterCheck(const std::string& printerName) {
  return printers::Answers(printerName);
}

}  // namespace vellumora
