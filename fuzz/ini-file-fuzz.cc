// Fuzz target: the settings-file reader and writer. Writing the values read and reading them
// back must give the same numbers and flags.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kernel/ini-file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view content(reinterpret_cast<const char*>(data), size);
  vellumora::SystemSettings first = vellumora::ParseIniSettings(content);
  std::string written =
      vellumora::IniSettingsBytes(content, first, "/opt/vellumora/", "/var/lib/Vellumora/");
  vellumora::SystemSettings again = vellumora::ParseIniSettings(written);
  if (first.MaxCPUload != again.MaxCPUload || first.DebugMode != again.DebugMode ||
      first.MaxLogSize != again.MaxLogSize || first.SortByDate != again.SortByDate ||
      first.PortA != again.PortA || first.Active != again.Active ||
      first.WindowXPos != again.WindowXPos)
    std::abort();
  return 0;
}
