// Outputs that this build does not have yet: the file fails with a clear line and stays.
#include "output/outputs.h"

namespace vellumora {

namespace {
OutputEnd NotAvailable(C_Kernel& kernel, const std::string& what) {
  kernel.jobFailed = true;
  kernel.statusMessage = "ERROR " + what + " printing is not available in this version";
  return OutputEnd::kFinished;
}
}  // namespace

OutputEnd Outputs::PrintPdfFile(const std::string&, const std::string&, const std::string&, bool) {
  return NotAvailable(kernel_, "PDF");
}

OutputEnd Outputs::PrintTextFile(const std::string&, int32_t, const std::string&) {
  return NotAvailable(kernel_, "Text file");
}

}  // namespace vellumora
