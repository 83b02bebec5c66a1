// LayOutPicture: orientation, page size, image rectangle, centring and the paper to ask for,
// by the channel's rules, on a 600-dpi page of 4800 × 6800 dots.
#include "output/picture-layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <ostream>
#include <string>

#include "kernel/print-channel.h"

namespace vellumora {

std::ostream& operator<<(std::ostream& os, const DeviceRect& r) {
  return os << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

namespace {

bool Same(const DeviceRect& a, const DeviceRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Paper 4800 × 6800 dots at 600 dpi (203 × 288 mm), physical offsets 100 and 150, borders of
// 400 dots: a border area of 4000 × 6000 dots. The printer's resolution is the page's.
PrintChannel Channel() {
  PrintChannel c = EmptyChannel();
  c.dpiX = c.dpiY = 600;
  c.paperSize = 9;
  c.geometry.dpiX = c.geometry.dpiY = 600;
  c.geometry.paperRect = {0, 0, 4800, 6800};
  c.geometry.printRect = {100, 150, 4700, 6650};
  c.geometry.borderRect = {400, 400, 4400, 6400};
  return c;
}

constexpr DeviceRect kPortraitPrintable{0, 0, 4600, 6500};
constexpr DeviceRect kLandscapePrintable{0, 0, 6600, 4500};
constexpr PaperRequest kChannelPaper{9, 0, 0};
constexpr int32_t kMin = INT32_MIN, kMax = INT32_MAX;

TEST(PictureLayout, ChannelRulesPlaceTheFrame) {
  struct Case {
    const char* what;
    std::function<void(PrintChannel&)> set;
    FrameSize frame;
    bool landscape;
    int32_t pageWidth, pageHeight;
    DeviceRect image;
    PaperRequest paper;
  };
  const Case cases[] = {
      {"natural size, one dot per pixel",
       [](PrintChannel&) {},
       {1000, 500, 0, 0},
       false,
       4800,
       6800,
       {400, 400, 1400, 900},
       kChannelPaper},
      {"a 300-dpi frame on a 600-dpi printer: two dots per pixel",
       [](PrintChannel&) {},
       {1000, 500, 300, 300},
       false,
       4800,
       6800,
       {400, 400, 2400, 1400},
       kChannelPaper},
      {"the frame's resolution on each axis",
       [](PrintChannel&) {},
       {1000, 500, 300, 150},
       false,
       4800,
       6800,
       {400, 400, 2400, 2400},
       kChannelPaper},
      {"fit: 1000 x 500 in 4000 x 6000 gives f = 4 at the border corner",
       [](PrintChannel& c) { c.stretch = 1; },
       {1000, 500, 0, 0},
       false,
       4800,
       6800,
       {400, 400, 4400, 2400},
       kChannelPaper},
      {"fit, centred on the whole page",
       [](PrintChannel& c) { c.stretch = c.center = 1; },
       {1000, 500, 0, 0},
       false,
       4800,
       6800,
       {400, 2400, 4400, 4400},
       kChannelPaper},
      {"fit limited by the height",
       [](PrintChannel& c) { c.stretch = 1; },
       {500, 1000, 0, 0},
       false,
       4800,
       6800,
       {400, 400, 3400, 6400},
       kChannelPaper},
      {"stretched to the borders",
       [](PrintChannel& c) { c.stretch = c.ignoreAratio = 1; },
       {1000, 500, 0, 0},
       false,
       4800,
       6800,
       {400, 400, 4400, 6400},
       kChannelPaper},
      {"autoDetect: a square picture is portrait, and scaled",
       [](PrintChannel& c) { c.autoDetect = 1; },
       {1000, 1000, 0, 0},
       false,
       4800,
       6800,
       {400, 400, 4400, 4400},
       kChannelPaper},
      {"autoDetect: one pixel wider is landscape, the borders used crosswise",
       [](PrintChannel& c) { c.autoDetect = 1; },
       {1001, 1000, 0, 0},
       true,
       6800,
       4800,
       {400, 400, 4404, 4400},
       kChannelPaper},
      {"the channel's landscape flag without autoDetect",
       [](PrintChannel& c) { c.landscape = 1; },
       {100, 900, 0, 0},
       true,
       6800,
       4800,
       {400, 400, 500, 1300},
       kChannelPaper},
      {"fixed paper size: the page in millimetres",
       [](PrintChannel& c) { c.fixedPaperSize = 1; },
       {100, 100, 0, 0},
       false,
       4800,
       6800,
       {400, 400, 500, 500},
       {kUserDefinedPaper, 203, 288}},
      {"fixed paper size on a landscape page",
       [](PrintChannel& c) { c.fixedPaperSize = c.landscape = 1; },
       {100, 100, 0, 0},
       true,
       6800,
       4800,
       {400, 400, 500, 500},
       {kUserDefinedPaper, 288, 203}},
      {"dynamic paper length: 1000 x 3000 over 4000 dots with 200 dots of vertical borders",
       [](PrintChannel& c) {
         c.dynPaperLength = c.center = 1;
         c.geometry.borderRect = {400, 100, 4400, 6700};
       },
       {1000, 3000, 0, 0},
       false,
       4800,
       12200,
       {400, 100, 4400, 12100},
       {kUserDefinedPaper, 203, 516}},
      {"dynamic paper length wins over natural size and stretching",
       [](PrintChannel& c) {
         c.dynPaperLength = c.ignoreAratio = c.stretch = 1;
         c.geometry.borderRect = {400, 100, 4400, 6700};
       },
       {2000, 1000, 0, 0},
       false,
       4800,
       2200,
       {400, 100, 4400, 2100},
       {kUserDefinedPaper, 203, 93}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PrintChannel channel = Channel();
    c.set(channel);
    const PictureLayout got = LayOutPicture(channel, c.frame);
    EXPECT_EQ(got.landscape, c.landscape);
    EXPECT_EQ(got.pageWidth, c.pageWidth);
    EXPECT_EQ(got.pageHeight, c.pageHeight);
    EXPECT_TRUE(Same(got.image, c.image)) << got.image;
    const DeviceRect printable = c.landscape ? kLandscapePrintable : kPortraitPrintable;
    if (channel.dynPaperLength) {
      EXPECT_TRUE(Same(got.printable, DeviceRect{0, 0, 4600, c.pageHeight - 300})) << got.printable;
    } else {
      EXPECT_TRUE(Same(got.printable, printable)) << got.printable;
    }
    EXPECT_EQ(got.paper, c.paper);
  }
}

TEST(PictureLayout, ToCanvasMovesByThePhysicalOffsets) {
  const PrintChannel c = Channel();
  EXPECT_TRUE(Same(ToCanvas({400, 2400, 4400, 4400}, c.geometry), {300, 2250, 4300, 4250}));
}

TEST(PictureLayout, GarbageRecordsGiveClampedResults) {
  // Channel records come from files: any value must lay out without overflow (the sanitizer
  // build checks), and what cannot be held in 32 bits is clamped.
  struct Case {
    const char* what;
    std::function<void(PrintChannel&)> set;
    FrameSize frame;
    std::function<void(const PictureLayout&)> check;
  };
  const auto wide = [](PrintChannel& c) {
    c.dpiX = c.dpiY = kMax;
    c.geometry.dpiX = c.geometry.dpiY = kMin;
    c.geometry.paperRect = {kMin, kMin, kMax, kMax};
    c.geometry.printRect = {kMin, kMin, kMax, kMax};
    c.geometry.borderRect = {kMin, kMin, kMax, kMax};
  };
  const Case cases[] = {
      {"a page as long as a huge picture",
       [&](PrintChannel& c) {
         wide(c);
         c.dynPaperLength = 1;
       },
       {3, kMax, 1, 1},
       [](const PictureLayout& l) {
         EXPECT_EQ(l.pageHeight, kMax);
         EXPECT_EQ(l.image.bottom, kMax);
       }},
      {"natural size far beyond 32 bits",
       wide,
       {kMax, kMax, 1, 1},
       [](const PictureLayout& l) { EXPECT_EQ(l.image.right, kMax); }},
      {"fit of a thin picture",
       [&](PrintChannel& c) {
         wide(c);
         c.stretch = c.center = 1;
       },
       {kMax, 3, 1, 1},
       [](const PictureLayout&) {}},
      {"fit with reversed borders",
       [&](PrintChannel& c) {
         wide(c);
         c.autoDetect = c.center = 1;
         c.geometry.borderRect = {kMax, kMax, kMin, kMin};
       },
       {3, kMax, 1, 1},
       [](const PictureLayout&) {}},
      {"negative resolutions",
       [&](PrintChannel& c) {
         wide(c);
         c.dpiX = c.dpiY = kMin;
       },
       {kMax, kMax, 1, 1},
       [](const PictureLayout& l) { EXPECT_EQ(l.image.right, kMin); }},
      {"no printer resolution at all",
       [](PrintChannel& c) {
         c.dpiX = c.dpiY = 0;
         c.dynPaperLength = c.stretch = 1;
       },
       {100, 100, 300, 300},
       [](const PictureLayout& l) {
         // The frame is no dots wide: no page length can follow from it.
         EXPECT_EQ(l.pageHeight, 6800);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PrintChannel channel = Channel();
    c.set(channel);
    c.check(LayOutPicture(channel, c.frame));
  }
}

}  // namespace
}  // namespace vellumora
