// The channel record and its page geometry: flat, pointer-free, byte for byte the record
// stored in the channel-definitions file (little-endian, format 603).
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace vellumora {

struct Rect32 {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// Resolution and the paper, printable and border rectangles of a page, in printer dots.
struct PageGeometry {
  int32_t dpiX = 0;
  int32_t dpiY = 0;
  Rect32 paperRect;   // the whole sheet: 0, 0, width, height
  Rect32 printRect;   // printable area: left/top are the physical offsets
  Rect32 borderRect;  // inside the page borders
};

inline constexpr int kScheduleDays = 7;
inline constexpr int kScheduleEntrySize = 12;  // "hh:nn hh:nn " without terminator
inline constexpr std::size_t kDriverDataSize = 51200;
inline constexpr std::size_t kLegacyDriverDataSize = 16384;

struct PrintChannel {
  char16_t sourceFolder[256];
  char16_t moveDir[256];
  char16_t headerText[64];
  char16_t printerName[128];
  char startCode[128];
  char stopCode[128];
  int32_t copies;
  int32_t freq;
  int32_t countdown;
  int32_t marginMM;
  uint8_t stretch;
  uint8_t landscape;
  uint8_t portrait;
  uint8_t ignoreAratio;
  uint8_t moveFile;
  uint8_t deleteFile;
  uint8_t active;
  uint8_t setOrientation;
  int32_t dpiX;
  int32_t dpiY;
  int32_t widthMM;
  int32_t heightMM;
  char legacyStart[6];
  char legacyStop[6];
  char notePosition;
  uint8_t pdfThroughBitmap;
  uint8_t watermark;
  uint8_t stretchWMhor;
  uint8_t stretchWMvert;
  uint8_t pdfNoFit;
  uint8_t autoDetect;
  uint8_t pdfHighRes;
  uint8_t pdfUseDocDefaults;
  uint8_t fixedPaperSize;
  uint8_t dynPaperLength;
  uint8_t noRestore;
  int32_t fontStyle;
  int32_t fontColor;
  int32_t fontSize;
  char16_t fontName[64];
  char schedule[kScheduleDays][kScheduleEntrySize];
  uint8_t dayActive[kScheduleDays];
  uint8_t center;
  int32_t paperSize;
  uint8_t reserved[16];
  PageGeometry geometry;
  int32_t maxJobsInSpooler;
  int32_t driverSize;
  uint8_t driverData[kDriverDataSize];
};

// A zero-filled record: every text empty, every flag and number 0, empty rectangles.
PrintChannel EmptyChannel();

inline constexpr std::size_t kChannelRecordSize = 53244;
inline constexpr std::size_t kLegacyChannelRecordSize = 18428;

// The record is a file format: every offset is fixed.
static_assert(std::is_standard_layout_v<PrintChannel> &&
              std::is_trivially_copyable_v<PrintChannel>);
static_assert(sizeof(PrintChannel) == kChannelRecordSize);
static_assert(offsetof(PrintChannel, driverData) + kLegacyDriverDataSize ==
              kLegacyChannelRecordSize);
static_assert(sizeof(PageGeometry) == 56);
static_assert(offsetof(PrintChannel, sourceFolder) == 0);
static_assert(offsetof(PrintChannel, moveDir) == 512);
static_assert(offsetof(PrintChannel, headerText) == 1024);
static_assert(offsetof(PrintChannel, printerName) == 1152);
static_assert(offsetof(PrintChannel, startCode) == 1408);
static_assert(offsetof(PrintChannel, stopCode) == 1536);
static_assert(offsetof(PrintChannel, copies) == 1664);
static_assert(offsetof(PrintChannel, freq) == 1668);
static_assert(offsetof(PrintChannel, countdown) == 1672);
static_assert(offsetof(PrintChannel, marginMM) == 1676);
static_assert(offsetof(PrintChannel, stretch) == 1680);
static_assert(offsetof(PrintChannel, landscape) == 1681);
static_assert(offsetof(PrintChannel, portrait) == 1682);
static_assert(offsetof(PrintChannel, ignoreAratio) == 1683);
static_assert(offsetof(PrintChannel, moveFile) == 1684);
static_assert(offsetof(PrintChannel, deleteFile) == 1685);
static_assert(offsetof(PrintChannel, active) == 1686);
static_assert(offsetof(PrintChannel, setOrientation) == 1687);
static_assert(offsetof(PrintChannel, dpiX) == 1688);
static_assert(offsetof(PrintChannel, dpiY) == 1692);
static_assert(offsetof(PrintChannel, widthMM) == 1696);
static_assert(offsetof(PrintChannel, heightMM) == 1700);
static_assert(offsetof(PrintChannel, legacyStart) == 1704);
static_assert(offsetof(PrintChannel, legacyStop) == 1710);
static_assert(offsetof(PrintChannel, notePosition) == 1716);
static_assert(offsetof(PrintChannel, pdfThroughBitmap) == 1717);
static_assert(offsetof(PrintChannel, watermark) == 1718);
static_assert(offsetof(PrintChannel, stretchWMhor) == 1719);
static_assert(offsetof(PrintChannel, stretchWMvert) == 1720);
static_assert(offsetof(PrintChannel, pdfNoFit) == 1721);
static_assert(offsetof(PrintChannel, autoDetect) == 1722);
static_assert(offsetof(PrintChannel, pdfHighRes) == 1723);
static_assert(offsetof(PrintChannel, pdfUseDocDefaults) == 1724);
static_assert(offsetof(PrintChannel, fixedPaperSize) == 1725);
static_assert(offsetof(PrintChannel, dynPaperLength) == 1726);
static_assert(offsetof(PrintChannel, noRestore) == 1727);
static_assert(offsetof(PrintChannel, fontStyle) == 1728);
static_assert(offsetof(PrintChannel, fontColor) == 1732);
static_assert(offsetof(PrintChannel, fontSize) == 1736);
static_assert(offsetof(PrintChannel, fontName) == 1740);
static_assert(offsetof(PrintChannel, schedule) == 1868);
static_assert(offsetof(PrintChannel, dayActive) == 1952);
static_assert(offsetof(PrintChannel, center) == 1959);
static_assert(offsetof(PrintChannel, paperSize) == 1960);
static_assert(offsetof(PrintChannel, reserved) == 1964);
static_assert(offsetof(PrintChannel, geometry) + offsetof(PageGeometry, dpiX) == 1980);
static_assert(offsetof(PrintChannel, geometry) + offsetof(PageGeometry, dpiY) == 1984);
static_assert(offsetof(PrintChannel, geometry) + offsetof(PageGeometry, paperRect) == 1988);
static_assert(offsetof(PrintChannel, geometry) + offsetof(PageGeometry, printRect) == 2004);
static_assert(offsetof(PrintChannel, geometry) + offsetof(PageGeometry, borderRect) == 2020);
static_assert(offsetof(PrintChannel, maxJobsInSpooler) == 2036);
static_assert(offsetof(PrintChannel, driverSize) == 2040);
static_assert(offsetof(PrintChannel, driverData) == 2044);

}  // namespace vellumora
