// Fuzz target: the channel-definitions reader and its record upgrades.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "kernel/channel-file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  // A header may promise up to 9999 records of 52 kB each; that memory is real but says
  // nothing about the parser, so keep the fuzzer's inputs small.
  if (bytes.size() >= 64 && std::atoi(bytes.substr(60, 4).c_str()) > 64) return 0;
  if (bytes.size() >= 61 && (bytes[60] == '+' || bytes[60] == '-')) return 0;
  std::istringstream in(bytes);
  vellumora::PrinterMetricsReader metrics =
      [](const std::string& name) -> std::optional<vellumora::PageGeometry> {
    if (name.empty()) return std::nullopt;
    vellumora::PageGeometry g;
    g.printRect = {100, 100, 4860, 6915};
    return g;
  };
  auto contents = vellumora::ReadChannelFile(in, metrics);
  if (contents.valid && contents.channels.size() != static_cast<size_t>(contents.count) + 1)
    std::abort();
  return 0;
}
