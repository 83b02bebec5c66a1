// Outputs that this build does not have yet: the file fails with a clear line and stays.
#include "output/outputs.h"

namespace vellumora {

namespace {
OutputReport NotAvailable(const std::string& what) {
  return {OutputResult::kRetry, "ERROR " + what + " printing is not available in this version"};
}
}  // namespace

OutputReport Outputs::PrintPdfFile(const OutputJob&) {
  return NotAvailable("PDF");
}

}  // namespace vellumora
