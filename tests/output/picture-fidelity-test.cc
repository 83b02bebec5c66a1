// Pictures as people's programs, scanners and phones write them, printed through the private
// print server and rendered back: each must print as a viewer shows it. The samples (made by
// tests/data/pictures/make-samples.sh) all show one picture: quadrants red, green, blue and
// yellow with a black square in the top left corner, 60 × 40 pixels as shown.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/capture-queue-fixture.h"
#include "output/outputs.h"
#include "output/picture-files.h"
#include "output/test-preview.h"
#include "platform/printers.h"
#include "support/cups-sandbox.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::Box;
using test::CupsSandbox;
using test::Raster;
using test::RasterOf;
using test::Rgb;

const fs::path kSamples = fs::path(VELLUMORA_TEST_DATA) / "pictures";

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0};
constexpr Rgb kWhite{255, 255, 255};

struct Sample {
  const char* file;
  Rgb quadrants[4];  // top left, top right, bottom left, bottom right
  bool marker;       // the black square in the top left corner
  int naturalWidth;  // printed at natural size on a 300-dpi channel, in dots
  int naturalHeight;
  int tolerance = 24;
};

constexpr Rgb kCanon[4] = {kRed, kGreen, kBlue, kYellow};
constexpr Rgb kBottomRightClear[4] = {kRed, kGreen, kBlue, kWhite};

const Sample kCases[] = {
    // Colour: Adobe's inverted CMYK (YCCK) plainly converted; CMYK through its own profile
    // (the colours ImageMagick's decode through that profile gives).
    {"cmyk-ycck.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"cmyk-profile.jpg",
     {{254, 46, 33}, {43, 249, 63}, {87, 79, 249}, {244, 246, 66}},
     true,
     60,
     40},
    {"cmyk.tif", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    // Orientation: stored turned or mirrored, shown upright.
    {"orientation-2.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"orientation-3.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"orientation-4.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"orientation-5.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"orientation-6.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"orientation-7.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"orientation-8.jpg", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"orientation-6.tif", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    // Depth: 16 bits by value (25443 and 63479 of 65535), 16-bit colour, floating point.
    {"grey16.png",
     {{99, 99, 99}, {247, 247, 247}, {247, 247, 247}, {99, 99, 99}},
     false,
     60,
     40,
     6},
    {"grey16.tif",
     {{99, 99, 99}, {247, 247, 247}, {247, 247, 247}, {99, 99, 99}},
     false,
     60,
     40,
     6},
    {"rgb16.png", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"float32.tif", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"float64.tif", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    // Resolution: 150 dpi takes two dots a pixel; a resolution without unit gives no size.
    {"scan-150dpi.tif", {kRed, kGreen, kBlue, kYellow}, true, 120, 80},
    {"unitless.tif", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    // BMP: 32 bits whose fourth byte is padding, run-length encoded.
    {"bgrx.bmp", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"rle8.bmp", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    {"rle4.bmp", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
    // Transparency laid on white: the bottom right quadrant is transparent.
    {"alpha-mask.bmp", {kRed, kGreen, kBlue, kWhite}, true, 60, 40},
    {"palette-trns.png", {kRed, kGreen, kBlue, kWhite}, true, 60, 40},
    {"grey-alpha.png", {{0, 0, 0}, {127, 127, 127}, {204, 204, 204}, kWhite}, false, 60, 40, 6},
    {"rgba.tif", {kRed, kGreen, kBlue, kWhite}, true, 60, 40},
    {"transparent.gif", {kRed, kGreen, kBlue, kWhite}, true, 60, 40},
    // A GIF file without its trailer byte.
    {"no-trailer.gif", {kRed, kGreen, kBlue, kYellow}, true, 60, 40},
};

// The mean colour of the part of `box` between the fractions x0..x1 across and y0..y1 down.
Rgb Mean(const Raster& page, const Box& box, double x0, double y0, double x1, double y1) {
  const int w = box.right - box.left, h = box.bottom - box.top;
  long r = 0, g = 0, b = 0, n = 0;
  for (int y = box.top + static_cast<int>(h * y0); y < box.top + static_cast<int>(h * y1); ++y)
    for (int x = box.left + static_cast<int>(w * x0); x < box.left + static_cast<int>(w * x1);
         ++x) {
      const Rgb c = page.At(x, y);
      r += c.r, g += c.g, b += c.b, ++n;
    }
  if (n == 0) return {};
  return {static_cast<uint8_t>(r / n), static_cast<uint8_t>(g / n), static_cast<uint8_t>(b / n)};
}

// The picture on the rendered page, or in the preview, against the sample's expectations.
void ExpectShownAsViewed(const Raster& page, const Box& box, const Sample& s) {
  ASSERT_FALSE(box.Empty());
  ASSERT_TRUE(box.left >= 0 && box.top >= 0 && box.right <= page.width && box.bottom <= page.height)
      << "the page is smaller than the picture";
  const char* names[] = {"top left", "top right", "bottom left", "bottom right"};
  for (int q = 0; q < 4; ++q) {
    SCOPED_TRACE(names[q]);
    const double x = q % 2 ? 0.5 : 0.0, y = q / 2 ? 0.5 : 0.0;
    const Rgb got = Mean(page, box, x + 0.2, y + 0.2, x + 0.42, y + 0.42);
    EXPECT_NEAR(got.r, s.quadrants[q].r, s.tolerance);
    EXPECT_NEAR(got.g, s.quadrants[q].g, s.tolerance);
    EXPECT_NEAR(got.b, s.quadrants[q].b, s.tolerance);
  }
  if (s.marker) {
    const Rgb corner = Mean(page, box, 0.02, 0.03, 0.1, 0.15);
    EXPECT_LT(corner.r + corner.g + corner.b, 120) << "no black square at the top left";
  }
}

bool NotWhite(Rgb c) {
  return c.r < 240 || c.g < 240 || c.b < 240;
}

class PictureFidelityTest : public test::CaptureQueueFixture {
 protected:
  // The channel an administrator's script adds with vellumora-setup, as the engine reads it.
  PrintChannel SetupChannel() {
    const std::string command = std::string("'") + VELLUMORA_SETUP_TOOL +
                                "' add-channel --folder '" + Path("in") + "' --printer " + kQueue +
                                " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    kernel->ReadSettings(false);
    EXPECT_GE(kernel->channelCount, 1);
    return kernel->channels[0];
  }

  // Prints the sample on `channel` and returns the page rendered at `dpi`.
  Raster PrintSample(const PrintChannel& channel, const std::string& file, int dpi) {
    EXPECT_TRUE(CupsSandbox::Get().Reset());
    kernel->currentChannel = channel;
    kernel->jobStatus = 2;
    const OutputReport report =
        outputs->PrintBitmapPages(Job((kSamples / file).string(), kQueue, 1), 0, 0);
    EXPECT_EQ(report.result, OutputResult::kPrinted) << report.message;
    auto jobs = CupsSandbox::Get().WaitForJobs(kQueue, 1);
    if (jobs.size() != 1) {
      ADD_FAILURE() << "no job";
      return {};
    }
    auto pages = test::RenderPdf(jobs[0].data, dpi);
    EXPECT_EQ(pages.size(), 1u);
    return pages.empty() ? Raster{} : pages[0];
  }
};

TEST_F(PictureFidelityTest, EveryKindPrintsAsViewersShowIt) {
  // The channel vellumora-setup writes prints at natural size with the printer's resolution,
  // one dot per pixel (TIFF pages by their stored resolution), carrying JPEG files as they are
  // where it can. The scaled channel fits the picture to the page, with the preview open (the
  // decoded pixels, never the file).
  const PrintChannel natural = SetupChannel();
  ASSERT_EQ(natural.dpiX, 300);
  ASSERT_EQ(natural.geometry.paperRect.right, 2480);
  PrintChannel scaled = natural;
  scaled.stretch = 1;
  for (const Sample& s : kCases) {
    SCOPED_TRACE(s.file);
    {
      SCOPED_TRACE("natural size");
      outputs->preview = nullptr;
      const Raster page = PrintSample(natural, s.file, 300);
      const Box box = test::FindPixels(page, NotWhite);
      EXPECT_EQ(box.left, 0);
      EXPECT_EQ(box.top, 0);
      EXPECT_NEAR(box.right, s.naturalWidth, 1);
      EXPECT_NEAR(box.bottom, s.naturalHeight, 1);
      // A transparent quadrant laid on white is no part of the box it spans.
      ExpectShownAsViewed(page, Box{0, 0, s.naturalWidth, s.naturalHeight}, s);
    }
    {
      SCOPED_TRACE("scaled to the page, previewed");
      test::TestPreview preview;
      outputs->preview = &preview;
      const Raster page = PrintSample(scaled, s.file, 50);
      outputs->preview = nullptr;
      // The page's width: 2480 dots, 413 pixels at 50 dpi; 3 : 2 as the picture is shown.
      const Box box{0, 0, page.width, page.width * 2 / 3};
      EXPECT_NEAR(test::FindPixels(page, NotWhite).right, page.width, 2);
      ExpectShownAsViewed(page, box, s);
      EXPECT_EQ(preview.picture.width, 60);
      EXPECT_EQ(preview.picture.height, 40);
      if (preview.picture.width == 60 && preview.picture.height == 40)
        ExpectShownAsViewed(RasterOf(preview.picture), Box{0, 0, 60, 40}, s);
    }
  }
}

TEST_F(PictureFidelityTest, WatermarkInCmykAndTurnedByItsOrientation) {
  // A white page; the watermark stretched over all of it, ANDed: what prints is the watermark.
  PrintChannel channel = SetupChannel();
  channel.stretch = channel.ignoreAratio = 1;
  channel.watermark = 1;
  channel.stretchWMhor = channel.stretchWMvert = 1;
  test::WritePicture(Path("white.png"), test::PictureSpec{30, 20, kWhite, 0});
  for (const char* file : {"cmyk-ycck.jpg", "orientation-6.jpg", "orientation-8.jpg"}) {
    SCOPED_TRACE(file);
    fs::copy_file(kSamples / file, fs::path(kernel->dataDir) / "Watermark.jpg",
                  fs::copy_options::overwrite_existing);
    outputs->LoadWatermark();
    ASSERT_EQ(watermark.Width(), 60);
    ASSERT_TRUE(CupsSandbox::Get().Reset());
    kernel->currentChannel = channel;
    kernel->jobStatus = 2;
    EXPECT_EQ(outputs->PrintBitmapPages(Job(Path("white.png"), kQueue, 1), 0, 0).result,
              OutputResult::kPrinted);
    auto jobs = CupsSandbox::Get().WaitForJobs(kQueue, 1);
    ASSERT_EQ(jobs.size(), 1u);
    const auto pages = test::RenderPdf(jobs[0].data, 30);
    ASSERT_EQ(pages.size(), 1u);
    const Sample expected{file, {kRed, kGreen, kBlue, kYellow}, true, 0, 0};
    ExpectShownAsViewed(pages[0], Box{0, 0, pages[0].width, pages[0].height}, expected);
  }
}

TEST_F(PictureFidelityTest, AChannelWithoutResolutionPrintsNoBlankPages) {
  // A record that never learnt its printer's resolution draws pictures that store their own
  // at no size: no page is printed, and the file is not reported as printed.
  PrintChannel channel = SetupChannel();
  channel.dpiX = channel.dpiY = 0;
  kernel->currentChannel = channel;
  kernel->jobStatus = 2;
  const OutputReport report =
      outputs->PrintBitmapPages(Job((kSamples / "scan-150dpi.tif").string(), kQueue, 1), 0, 0);
  EXPECT_EQ(report.result, OutputResult::kRejected);
  EXPECT_NE(report.message.find("ERROR Picture too small to print: "), std::string::npos);
  EXPECT_TRUE(CupsSandbox::Get().CapturedJobs(kQueue).empty());
  EXPECT_EQ(CupsSandbox::Get().ActiveJobs(kQueue), 0);
}

}  // namespace
}  // namespace vellumora
