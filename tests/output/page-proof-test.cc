// Page proofs: the proof of a picture page must be the page the printer gets. It is compared
// with the same file printed through the private print server's raw "capture" queue (A4,
// 300 dpi, no margins) and rendered back with pdftoppm at the proof's scale; the printable
// offset, the memory bound and the refusals are checked on proofs alone.
#include "output/page-proof.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/capture-queue-fixture.h"
#include "output/outputs-fixture.h"
#include "output/outputs.h"
#include "output/picture-files.h"
#include "output/picture-layout.h"
#include "support/cups-sandbox.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::Box;
using test::CupsSandbox;
using test::PictureSpec;
using test::Raster;
using test::RasterOf;
using test::Rgb;

constexpr Rgb kRed{255, 0, 0};
// Light grey: ANDed (the proof) and multiplied (the PDF) it gives the same colours over the
// sample's pure colours and over white, so the two pages can be compared pixel for pixel.
constexpr Rgb kWatermarkGrey{192, 192, 192};

using test::March7;

// A photo of 1200 × 800 pixels: quadrants red, green, blue and yellow, and a black square
// at the top left that shows which way up it is. The proofs and the rendered pages show it with
// fewer pixels than it has: scaled up, the two renderers blur its edges differently.
// Written as a 24-bit BMP, rows bottom up.
constexpr int kPhotoWidth = 1200, kPhotoHeight = 800;
void WriteQuadrantPhoto(const fs::path& file) {
  const int rowBytes = kPhotoWidth * 3;  // a multiple of 4
  std::string bmp = "BM";
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp += static_cast<char>(v >> (8 * i));
  };
  auto put16 = [&](uint16_t v) { bmp += static_cast<char>(v), bmp += static_cast<char>(v >> 8); };
  put32(54 + rowBytes * kPhotoHeight), put32(0), put32(54);
  put32(40), put32(kPhotoWidth), put32(kPhotoHeight), put16(1), put16(24), put32(0);
  put32(rowBytes * kPhotoHeight), put32(11811), put32(11811), put32(0), put32(0);
  for (int row = kPhotoHeight - 1; row >= 0; --row)
    for (int x = 0; x < kPhotoWidth; ++x) {
      const bool right = x >= kPhotoWidth / 2, bottom = row >= kPhotoHeight / 2;
      Rgb c = bottom ? (right ? Rgb{255, 255, 0} : Rgb{0, 0, 255})
                     : (right ? Rgb{0, 255, 0} : Rgb{255, 0, 0});
      if (x < 160 && row < 160) c = Rgb{0, 0, 0};
      bmp += static_cast<char>(c.b), bmp += static_cast<char>(c.g), bmp += static_cast<char>(c.r);
    }
  std::ofstream(file, std::ios::binary) << bmp;
}

// The photo's coloured quadrants, whatever grey lies over them.
bool Saturated(Rgb c) {
  return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) > 60;
}

// The note's ink: dark grey to black, outside the picture (whose corner square is black too).
Box InkOutside(const Raster& page, const Box& picture) {
  Box ink{page.width, page.height, 0, 0};
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) {
      if (x >= picture.left - 2 && x < picture.right + 2 && y >= picture.top - 2 &&
          y < picture.bottom + 2)
        continue;
      const Rgb c = page.At(x, y);
      if (std::max({c.r, c.g, c.b}) >= 110) continue;
      ink.left = std::min(ink.left, x), ink.top = std::min(ink.top, y);
      ink.right = std::max(ink.right, x + 1), ink.bottom = std::max(ink.bottom, y + 1);
    }
  return ink.Empty() ? Box{} : ink;
}

void ExpectSameBox(const Box& got, const Box& expected, int tolerance) {
  EXPECT_FALSE(got.Empty());
  EXPECT_NEAR(got.left, expected.left, tolerance);
  EXPECT_NEAR(got.top, expected.top, tolerance);
  EXPECT_NEAR(got.right, expected.right, tolerance);
  EXPECT_NEAR(got.bottom, expected.bottom, tolerance);
}

// Blocks of 8 × 8 pixels whose mean colour differs by more than `tolerance` in a channel.
int DifferingBlocks(const Raster& a, const Raster& b, int tolerance) {
  constexpr int kBlock = 8;
  const int width = std::min(a.width, b.width), height = std::min(a.height, b.height);
  int differing = 0;
  for (int by = 0; by + kBlock <= height; by += kBlock)
    for (int bx = 0; bx + kBlock <= width; bx += kBlock) {
      long sum[2][3] = {};
      for (int y = by; y < by + kBlock; ++y)
        for (int x = bx; x < bx + kBlock; ++x) {
          const Rgb ca = a.At(x, y), cb = b.At(x, y);
          sum[0][0] += ca.r, sum[0][1] += ca.g, sum[0][2] += ca.b;
          sum[1][0] += cb.r, sum[1][1] += cb.g, sum[1][2] += cb.b;
        }
      for (int c = 0; c < 3; ++c)
        if (std::abs(sum[0][c] - sum[1][c]) > tolerance * kBlock * kBlock) {
          ++differing;
          break;
        }
    }
  return differing;
}

class PageProofPrintTest : public test::CaptureQueueFixture {
 protected:
  void SetUp() override {
    CaptureQueueFixture::SetUp();
    if (HasFatalFailure()) return;
    kernel->localClock = March7;
    channel = EmptyChannel();
    WriteField(channel.printerName, kQueue);
    WriteField(channel.headerText, "Vellumora file <N>");
    channel.copies = 1;
    channel.dpiX = channel.dpiY = 300;
    channel.geometry = kernel->printerGeometry;
    ASSERT_EQ(channel.geometry.paperRect.right, 2480);
    ASSERT_EQ(channel.geometry.printRect.left, 0);
    channel.geometry.borderRect = {150, 150, 2330, 3358};
  }

  PrintChannel channel{};
};

TEST_F(PageProofPrintTest, ProofIsThePrintedPage) {
  // The photo, a grey watermark, and the note in the borders.
  const std::string photo = Path("photo.bmp");
  WriteQuadrantPhoto(photo);
  test::WritePicture(fs::path(kernel->dataDir) / "Watermark.bmp",
                     PictureSpec{600, 300, kWatermarkGrey, 0});
  outputs->LoadWatermark();
  ASSERT_EQ(watermark.Width(), 600);
  struct Case {
    const char* what;
    uint8_t landscape, center, ignoreAratio;
    char note;
    uint8_t watermark, acrossWM, downWM;
    uint8_t setOrientation = 1;  // the printer's page turns with the layout
  };
  const Case cases[] = {
      {"portrait, fitted and centred, note bottom right, watermark centred", 0, 1, 0, 'F', 1, 0, 0},
      {"landscape, fitted at the border corner, note top centre, watermark across", 1, 0, 0, 'B', 1,
       1, 0},
      {"portrait, stretched to the borders, note bottom left, no watermark", 0, 0, 1, 'D', 0, 0, 0},
      {"landscape on a printer left upright: the page is cut off at the sheet", 1, 0, 0, 'A', 0, 0,
       0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(CupsSandbox::Get().Reset());
    channel.stretch = 1;
    channel.setOrientation = c.setOrientation;
    channel.landscape = c.landscape, channel.center = c.center;
    channel.ignoreAratio = c.ignoreAratio, channel.notePosition = c.note;
    channel.watermark = c.watermark, channel.stretchWMhor = c.acrossWM;
    channel.stretchWMvert = c.downWM;

    const PageProof proof = ProofPicturePage(*outputs, channel, photo, 0.25);
    ASSERT_TRUE(proof.ok) << proof.error;
    const bool turned = c.landscape && c.setOrientation;
    EXPECT_EQ(proof.landscape, turned);
    EXPECT_EQ(proof.pageWidthDots, turned ? 3508 : 2480);
    EXPECT_EQ(proof.scaleX, 0.25);

    kernel->currentChannel = channel;
    kernel->jobStatus = 2;
    ASSERT_EQ(outputs->PrintBitmapPages(Job(photo, kQueue, 1), 0, 0).result,
              OutputResult::kPrinted);
    const auto jobs = CupsSandbox::Get().WaitForJobs(kQueue, 1);
    ASSERT_EQ(jobs.size(), 1u);
    const auto pages = test::RenderPdf(jobs[0].data, 75);
    ASSERT_EQ(pages.size(), 1u);
    const Raster& printed = pages[0];
    const Raster shown = RasterOf(proof.page);

    EXPECT_NEAR(shown.width, printed.width, 1);
    EXPECT_NEAR(shown.height, printed.height, 1);
    // The picture where the layout puts it, on both.
    // (No margins on this queue: the page's coordinates are the sheet's.)
    const DeviceRect image =
        LayOutPicture(channel, FrameSize{kPhotoWidth, kPhotoHeight, 0, 0}).image;
    const Box picture = test::FindPixels(shown, Saturated);
    if (turned || !c.landscape)
      ExpectSameBox(picture,
                    Box{image.left / 4, image.top / 4, image.right / 4, image.bottom / 4}, 1);
    ExpectSameBox(picture, test::FindPixels(printed, Saturated), 1);
    // The note in the same place.
    ExpectSameBox(InkOutside(shown, picture), InkOutside(printed, picture), 2);
    // And everything else: picture, watermark, note, white paper. The renderers may put an
    // edge one pixel apart, which changes one row of a block (32 of 255 in its mean); an edge
    // two pixels off, a missing watermark or a colour of its own is more than 40.
    EXPECT_EQ(DifferingBlocks(shown, printed, 40), 0);
  }
}

class PageProofTest : public test::OutputsFixture {
 protected:
  PageProofTest() {
    kernel->localClock = March7;
    channel = EmptyChannel();
    WriteField(channel.headerText, "Vellumora file <N>");
    channel.dpiX = channel.dpiY = 300;
    channel.setOrientation = 1;  // a landscape layout turns the printer's sheet
    PageGeometry& g = channel.geometry;
    g.dpiX = g.dpiY = 300;
    g.paperRect = {0, 0, 2480, 3508};
    // A printer that cannot print the outer 60 dots across and 40 down.
    g.printRect = {60, 40, 2420, 3468};
    g.borderRect = {200, 300, 2280, 3208};
  }

  PrintChannel channel{};
};

TEST_F(PageProofTest, TheSheetIsShownWholeWithTheCanvasAtThePrintableArea) {
  // 100 × 50 pixels at 150 dpi: 200 × 100 dots at natural size, at the border corner. The
  // printer's canvas begins at the printable area, whose offsets change places on a turned
  // page; on the sheet the picture lands where the layout put it less that turn.
  test::WritePicture(Path("scan.tif"), PictureSpec{100, 50, kRed, 150});
  kernel->imageDpiX = kernel->imageDpiY = 77;  // a job printing meanwhile: left alone
  struct Case {
    const char* what;
    uint8_t landscape;
    Box expected;  // half-scale pixels
  };
  const Case cases[] = {
      {"portrait", 0, {100, 150, 200, 200}},
      {"landscape", 1, {90, 160, 190, 210}},  // 20 dots left of and 20 below the layout's
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    channel.landscape = c.landscape;
    const PageProof proof = ProofPicturePage(*outputs, channel, Path("scan.tif"), 0.5);
    ASSERT_TRUE(proof.ok) << proof.error;
    EXPECT_EQ(proof.page.width, c.landscape ? 1754 : 1240);
    EXPECT_EQ(proof.page.height, c.landscape ? 1240 : 1754);
    ExpectSameBox(test::FindPixels(RasterOf(proof.page), test::IsRed), c.expected, 0);
  }
  EXPECT_EQ(kernel->imageDpiX, 77);
  EXPECT_EQ(kernel->imageDpiY, 77);
  EXPECT_TRUE(log.empty());
}

TEST_F(PageProofTest, LargeScalesAreBoundedAndBadInputIsRefused) {
  test::WritePicture(Path("photo.png"), PictureSpec{60, 40, kRed, 0});
  // At 10 pixels a dot an A4 page would be 35080 pixels tall.
  const PageProof big = ProofPicturePage(*outputs, channel, Path("photo.png"), 10);
  ASSERT_TRUE(big.ok) << big.error;
  EXPECT_EQ(big.page.height, kMaxProofSide);
  EXPECT_NEAR(big.page.width, 2480.0 * kMaxProofSide / 3508, 1);
  EXPECT_NEAR(big.scaleX, double{kMaxProofSide} / 3508, 1e-9);

  test::WritePicture(Path("broken.png"), PictureSpec{300, 200, kRed, 0});
  test::TruncateFile(Path("broken.png"), 40);
  test::WritePicture(Path("line.png"), PictureSpec{2, 100, kRed, 0});
  fs::copy_file(Path("photo.png"), Path("photo.dat"));
  fs::copy_file(Path("photo.png"), Path("photo.jpg"));
  PrintChannel noPage = channel;
  noPage.geometry.paperRect = {0, 0, 0, 0};
  noPage.geometry.borderRect = {0, 0, 100, 100};
  PrintChannel hugePage = channel;
  hugePage.geometry.paperRect.bottom = std::numeric_limits<int32_t>::max();
  PrintChannel noDpi = channel;
  noDpi.geometry.dpiX = 0;
  struct Case {
    const char* what;
    const PrintChannel* channel;
    std::string file;
    double scale;
    std::string error;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {"no such file", &channel, Path("absent.png"), 0.5,
       "ERROR Picture file couldn't be opened: " + Path("absent.png")},
      {"a truncated file", &channel, Path("broken.png"), 0.5,
       "ERROR Corrupted graphic file " + Path("broken.png")},
      {"a name without a picture type", &channel, Path("photo.dat"), 0.5,
       "ERROR Corrupted graphic file " + Path("photo.dat")},
      {"a name of another picture type", &channel, Path("photo.jpg"), 0.5,
       "ERROR Corrupted graphic file " + Path("photo.jpg")},
      {"a frame too small to print", &channel, Path("line.png"), 0.5,
       "ERROR Picture too small to print: " + Path("line.png") +
           " (every image is at most 2 pixels wide or high)"},
      {"scale 0", &channel, Path("photo.png"), 0, "ERROR Page proof: the scale must be"},
      {"scale not a number", &channel, Path("photo.png"), nan,
       "ERROR Page proof: the scale must be"},
      {"a page of no size", &noPage, Path("photo.png"), 0.5,
       "ERROR Page proof: the channel's page has no size"},
      {"a page beyond any paper", &hugePage, Path("photo.png"), 0.5,
       "ERROR Page proof: the channel's page is larger than any paper"},
      {"no printer resolution", &noDpi, Path("photo.png"), 0.5,
       "ERROR Page proof: the channel's printer resolution is unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PageProof proof = ProofPicturePage(*outputs, *c.channel, c.file, c.scale);
    EXPECT_FALSE(proof.ok);
    EXPECT_EQ(proof.error.rfind(c.error, 0), 0u) << proof.error;
    EXPECT_TRUE(proof.page.Empty());
  }
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace vellumora
