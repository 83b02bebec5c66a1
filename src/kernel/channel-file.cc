// Reading, upgrading and writing the channel-definitions file.
#include "kernel/channel-file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kernel/text-fields.h"
#include "kernel/units.h"

namespace vellumora {

namespace {

// The decimal number in the header field at `pos` of `width` bytes, read as far as the digits
// go (with an optional sign); 0 when there are none. Digits never run past the field, so a
// damaged header cannot promise more than 9999 records.
int32_t HeaderNumber(const char* header, std::size_t size, std::size_t pos, std::size_t width) {
  const std::size_t end = std::min(size, pos + width);
  bool negative = false;
  if (pos < end && (header[pos] == '-' || header[pos] == '+')) negative = header[pos++] == '-';
  int32_t value = 0;
  for (; pos < end && header[pos] >= '0' && header[pos] <= '9'; ++pos)
    value = value * 10 + (header[pos] - '0');
  return negative ? -value : value;
}

bool KnownVersion(int32_t v) {
  return v == 408 || v == 504 || v == 601 || v == 602 || v == 603;
}

}  // namespace

std::string ChannelFileHeader(int32_t count) {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf,
                        "Vellumora    Print-Channel-Definitions Version=603 Channels=%4.4d DATA",
                        count);
  return std::string(buf, static_cast<std::size_t>(n));
}

void UpgradeChannelRecord(PrintChannel& r, int32_t version, const PrinterMetricsReader& metrics,
                          int32_t& offsetX, int32_t& offsetY) {
  if (version == 408) {
    // Hours are two digits; anything else could not have been a valid hour anyway.
    unsigned start = static_cast<unsigned>(std::atoi(ReadField(r.legacyStart).c_str())) % 100u;
    unsigned stop = static_cast<unsigned>(std::atoi(ReadField(r.legacyStop).c_str())) % 100u;
    for (int day = 0; day < kScheduleDays; ++day) {
      char entry[kScheduleEntrySize + 1];
      std::snprintf(entry, sizeof entry, "%.2u:%.2u %.2u:%.2u ", start, 0u, stop, 0u);
      std::memcpy(r.schedule[day], entry, kScheduleEntrySize);
      r.dayActive[day] = 1;
    }
  }
  if (version == 408 || version == 504) {
    // These formats kept the margin in dots.
    r.marginMM = r.dpiX < 1 ? 5
                            : static_cast<int32_t>((static_cast<int64_t>(r.marginMM) * 254 + 5) /
                                                   (static_cast<int64_t>(r.dpiX) * 10));
    r.fixedPaperSize = 0;
    r.dynPaperLength = 0;
    version = 601;
  }
  if (version == 601) {
    r.setOrientation = 1;
    if (metrics) {
      if (auto measured = metrics(ReadField(r.printerName))) {
        offsetX = measured->printRect.left;
        offsetY = measured->printRect.top;
      }
    }
    PageGeometry& g = r.geometry;
    if (r.dpiX > 0) g.dpiX = r.dpiX;
    if (r.dpiY > 0) g.dpiY = r.dpiY;
    g.paperRect = {0, 0, MmToDots(r.widthMM, r.dpiX), MmToDots(r.heightMM, r.dpiY)};
    g.printRect = {offsetX, offsetY, WrapSub(g.paperRect.right, offsetX),
                   WrapSub(g.paperRect.bottom, offsetY)};
    int32_t border = MmToDots(r.marginMM, r.dpiX);
    if (border < offsetX || border < offsetY) border = 600;
    g.borderRect = {border, border, WrapSub(g.paperRect.right, border),
                    WrapSub(g.paperRect.bottom, border)};
  }
}

ChannelFileContents ReadChannelFile(std::string_view bytes, const PrinterMetricsReader& metrics) {
  ChannelFileContents out;
  if (bytes.size() < kChannelHeaderSize) {
    out.error = bytes.empty() ? "the file is empty"
                              : "the header is incomplete (" + std::to_string(bytes.size()) +
                                    " of " + std::to_string(kChannelHeaderSize) + " bytes)";
    return out;
  }
  const int32_t version = HeaderNumber(bytes.data(), kChannelHeaderSize, 47, 3);
  const int32_t count = HeaderNumber(bytes.data(), kChannelHeaderSize, 60, 4);
  if (!KnownVersion(version)) {
    out.error = "unknown format version " + std::to_string(version);
    return out;
  }
  if (count < 0) {
    out.error = "negative channel count " + std::to_string(count);
    return out;
  }
  const std::size_t recordSize = version == 603 ? kChannelRecordSize : kLegacyChannelRecordSize;
  const std::size_t held = (bytes.size() - kChannelHeaderSize) / recordSize;
  if (held < static_cast<std::size_t>(count)) {
    out.error = "the file holds " + std::to_string(held) + " of the " + std::to_string(count) +
                " records its header announces (" + std::to_string(bytes.size()) + " bytes)";
    return out;
  }

  out.version = version;
  out.count = count;
  out.channels.assign(static_cast<std::size_t>(count) + 1, EmptyChannel());
  int32_t offsetX = 0, offsetY = 0;
  for (int32_t i = 0; i < count; ++i) {
    PrintChannel& r = out.channels[static_cast<std::size_t>(i)];
    std::memcpy(&r, bytes.data() + kChannelHeaderSize + static_cast<std::size_t>(i) * recordSize,
                recordSize);
    if (version != 603) {
      out.converted = true;
      UpgradeChannelRecord(r, version, metrics, offsetX, offsetY);
    }
  }
  out.valid = true;
  return out;
}

std::string ChannelFileBytes(const std::vector<PrintChannel>& channels, int32_t count) {
  std::string bytes = ChannelFileHeader(count);
  bytes.reserve(kChannelHeaderSize + static_cast<std::size_t>(count) * kChannelRecordSize);
  const PrintChannel empty = EmptyChannel();
  for (int32_t i = 0; i < count; ++i) {
    const PrintChannel& r = static_cast<std::size_t>(i) < channels.size()
                                ? channels[static_cast<std::size_t>(i)]
                                : empty;
    bytes.append(reinterpret_cast<const char*>(&r), sizeof r);
  }
  return bytes;
}

}  // namespace vellumora
