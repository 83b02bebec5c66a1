// The channel-definitions file "Vellumora.vch": a 69-byte text header and raw channel
// records. Format 603 is written; 408, 504, 601, 602 and 603 are read and upgraded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/print-channel.h"

namespace vellumora {

inline constexpr std::size_t kChannelHeaderSize = 69;
inline constexpr int32_t kChannelFormat = 603;

// Measures a printer's page; empty when the printer cannot be asked.
using PrinterMetricsReader = std::function<std::optional<PageGeometry>(const std::string& printer)>;

// The largest file that can make sense: the header and 9999 records of format 603. Whatever
// lies beyond the records the header announces is ignored.
inline constexpr std::size_t kMaxChannelFileSize = kChannelHeaderSize + 9999 * kChannelRecordSize;

struct ChannelFileContents {
  // A complete header of a known version with a count of 0 or more, and every record it
  // announces present in full.
  bool valid = false;
  bool converted = false;  // at least one record came in an older format
  int32_t version = 0;
  int32_t count = 0;
  std::string error;                   // why the file is not valid
  std::vector<PrintChannel> channels;  // count + 1 records (a spare last slot) when valid
};

// The header text for `count` records, exactly 69 bytes.
std::string ChannelFileHeader(int32_t count);

// Reads a whole file. A file cut short (fewer bytes than its header announces records) or
// with a header that does not make sense is not valid and gives no channels: a torn or
// foreign file must never replace good channels with empty ones. Records of older formats
// (whose records are shorter) are upgraded, asking `metrics` (may be empty) for the physical
// offsets of their printers. Memory is taken only for records the bytes actually hold.
ChannelFileContents ReadChannelFile(std::string_view bytes, const PrinterMetricsReader& metrics);

// Upgrades one record of format `version` to format 603, step by step. `offsetX`/`offsetY`
// are the physical offsets of the last printer that could be measured during this load.
void UpgradeChannelRecord(PrintChannel& record, int32_t version,
                          const PrinterMetricsReader& metrics, int32_t& offsetX, int32_t& offsetY);

// The header followed by the first `count` records.
std::string ChannelFileBytes(const std::vector<PrintChannel>& channels, int32_t count);

}  // namespace vellumora
