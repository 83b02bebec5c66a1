// Outputs that this build does not have yet: the file fails with a clear line and stays.
#include "output/outputs.h"

namespace vellumora {

namespace {
OutputReport NotAvailable(const std::string& what) {
  return {OutputResult::kRetry, "ERROR " + what + " printing is not available in this version"};
}
}  // namespace

OutputReport Outputs::PrintTextFile(const OutputJob&) {
  return NotAvailable("Text file");
}

}  // namespace vellumora
