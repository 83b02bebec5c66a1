// Fuzz target: the channel-definitions reader and its record upgrades.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "kernel/channel-file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vellumora::PrinterMetricsReader metrics =
      [](const std::string& name) -> std::optional<vellumora::PageGeometry> {
    if (name.empty()) return std::nullopt;
    vellumora::PageGeometry g;
    g.printRect = {100, 100, 4860, 6915};
    return g;
  };
  auto contents = vellumora::ReadChannelFile(bytes, metrics);
  if (!contents.valid) {
    if (contents.error.empty() || !contents.channels.empty()) std::abort();
    return 0;
  }
  // Every record came from the bytes: a header alone never makes the reader take memory.
  const std::size_t record =
      contents.version == 603 ? vellumora::kChannelRecordSize : vellumora::kLegacyChannelRecordSize;
  if (contents.channels.size() != static_cast<size_t>(contents.count) + 1 ||
      size < vellumora::kChannelHeaderSize + static_cast<size_t>(contents.count) * record)
    std::abort();
  return 0;
}
