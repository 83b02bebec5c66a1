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

JobFate Outputs::AskJob(const std::string& printerName, int32_t jobId) {
  const printers::JobState state = printers::QueryJob(printerName, jobId);
  if (printers::HoldsWholeJob(state)) return JobFate::kHeld;
  if (state == printers::JobState::kNoSuchJob) return JobFate::kGone;
  if (state == printers::JobState::kNoAnswer) return JobFate::kUnknown;
  return JobFate::kBroken;
}

bool Outputs::CancelJob(const std::string& printerName, int32_t jobId) {
  return printers::CancelJob(printerName, jobId);
}

}  // namespace vellumora
