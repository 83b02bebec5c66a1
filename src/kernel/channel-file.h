// The channel-definitions file "Vellumora.vch": a 69-byte text header and raw channel
// records. Format 603 is written; 408, 504, 601, 602 and 603 are read and upgraded.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

#include "kernel/print-channel.h"

namespace vellumora {

inline constexpr std::size_t kChannelHeaderSize = 69;
inline constexpr int32_t kChannelFormat = 603;

// Measures a printer's page; empty when the printer cannot be asked.
using PrinterMetricsReader = std::function<std::optional<PageGeometry>(const std::string& printer)>;

struct ChannelFileContents {
  bool valid = false;      // a known version and a count of 0 or more
  bool converted = false;  // at least one record came in an older format
  int32_t version = 0;
  int32_t count = 0;
  std::vector<PrintChannel> channels;  // count + 1 records (a spare last slot) when valid
};

// The header text for `count` records, exactly 69 bytes.
std::string ChannelFileHeader(int32_t count);

// Reads a whole file from `in`. Records missing at the end of a short file stay zero-filled.
// Records of older formats are upgraded, asking `metrics` (may be empty) for the physical
// offsets of their printers.
ChannelFileContents ReadChannelFile(std::istream& in, const PrinterMetricsReader& metrics);

// Upgrades one record of format `version` to format 603, step by step. `offsetX`/`offsetY`
// are the physical offsets of the last printer that could be measured during this load.
void UpgradeChannelRecord(PrintChannel& record, int32_t version,
                          const PrinterMetricsReader& metrics, int32_t& offsetX, int32_t& offsetY);

// The header followed by the first `count` records.
std::string ChannelFileBytes(const std::vector<PrintChannel>& channels, int32_t count);

}  // namespace vellumora
