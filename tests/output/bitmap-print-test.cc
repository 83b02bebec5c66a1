// PrintBitmapFile through the private CUPS scheduler: every job is read back from the raw
// "capture" queue (A4, 300 dpi, no margins) and rendered with pdftoppm to see where the picture,
// the note and the watermark landed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "kernel/units.h"
#include "output/capture-queue-fixture.h"
#include "output/outputs.h"
#include "output/picture-files.h"
#include "output/test-preview.h"
#include "platform/cairo/cairo-canvas.h"
#include "platform/printers.h"
#include "support/cups-sandbox.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::Box;
using test::CupsSandbox;
using test::PictureSpec;
using test::Raster;
using test::Rgb;
using test::TestPreview;

constexpr Rgb kRed{220, 20, 20};
constexpr Rgb kGreen{20, 200, 20};
constexpr Rgb kBlue{20, 20, 220};
constexpr int32_t kPageWidth = 2480;  // A4 at 300 dpi
constexpr int32_t kPageHeight = 3508;

using test::March7;

class BitmapPrintTest : public test::CaptureQueueFixture {
 protected:
  void SetUp() override {
    CaptureQueueFixture::SetUp();
    if (HasFatalFailure()) return;
    kernel->localClock = March7;

    channel = EmptyChannel();
    WriteField(channel.printerName, kQueue);
    channel.copies = 1;
    channel.dpiX = channel.dpiY = 300;
    channel.notePosition = 'F';
    channel.geometry = kernel->printerGeometry;
    ASSERT_EQ(channel.geometry.paperRect.right, kPageWidth);
    ASSERT_EQ(channel.geometry.paperRect.bottom, kPageHeight);
    channel.geometry.borderRect = channel.geometry.paperRect;
  }

  OutputResult Print(const std::string& name, int32_t copies = 1, int32_t total = 0,
                     int32_t page = 0) {
    kernel->currentChannel = channel;
    kernel->jobStatus = 2;
    last = outputs->PrintBitmapPages(Job(Path(name), kQueue, copies), total, page);
    return last.result;
  }
  OutputReport last;

  // The one job the queue received, its PDF as the printer got it.
  std::string OnlyJob(const std::string& title = {}) {
    auto jobs = CupsSandbox::Get().WaitForJobs(kQueue, 1);
    EXPECT_EQ(jobs.size(), 1u);
    if (jobs.empty()) return {};
    if (!title.empty()) {
      EXPECT_EQ(jobs[0].Info("title"), title);
    }
    EXPECT_EQ(jobs[0].data.rfind("%PDF-", 0), 0u);
    return jobs[0].data;
  }

  bool NoJobs() const {
    return CupsSandbox::Get().CapturedJobs(kQueue).empty() &&
           CupsSandbox::Get().ActiveJobs(kQueue) == 0;
  }

  PrintChannel channel{};
};

// A box found on a page rendered at `dpi`, in printer dots (300 dpi), within `tolerance` dots.
void ExpectBox(const Box& px, int dpi, DeviceRect dots, int tolerance) {
  const double f = 300.0 / dpi;
  EXPECT_NEAR(px.left * f, dots.left, tolerance);
  EXPECT_NEAR(px.top * f, dots.top, tolerance);
  EXPECT_NEAR(px.right * f, dots.right, tolerance);
  EXPECT_NEAR(px.bottom * f, dots.bottom, tolerance);
}

TEST_F(BitmapPrintTest, LayoutRulesPlaceThePictureInsideTheBorders) {
  // 500 × 250 dots into a border area of 2000 × 3000 dots: f = min(4, 12) = 4.
  test::WritePicture(Path("wide.png"), PictureSpec{500, 250, kRed, 0});
  // A tall one for autoDetect, which would turn a wide one to landscape: f = min(8, 6) = 6.
  test::WritePicture(Path("tall.png"), PictureSpec{250, 500, kRed, 0});
  channel.geometry.borderRect = {100, 100, 2100, 3100};
  struct Case {
    const char* what;
    const char* file;
    uint8_t stretch, autoDetect, ignoreAratio, center;
    DeviceRect expected;
  };
  const Case cases[] = {
      {"natural size", "wide.png", 0, 0, 0, 0, {100, 100, 600, 350}},
      {"fit at the border corner", "wide.png", 1, 0, 0, 0, {100, 100, 2100, 1100}},
      {"fit centred on the page", "wide.png", 1, 0, 0, 1, {240, 1254, 2240, 2254}},
      {"stretched to the borders", "wide.png", 1, 0, 1, 0, {100, 100, 2100, 3100}},
      {"autoDetect scales like stretch", "tall.png", 0, 1, 0, 0, {100, 100, 1600, 3100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(CupsSandbox::Get().Reset());
    channel.stretch = c.stretch, channel.autoDetect = c.autoDetect;
    channel.ignoreAratio = c.ignoreAratio, channel.center = c.center;
    EXPECT_EQ(Print(c.file), OutputResult::kPrinted);
    EXPECT_EQ(kernel->jobStatus, 2);
    const auto pages = test::RenderPdf(OnlyJob(std::string("Vellumora: ") + c.file), 150);
    ASSERT_EQ(pages.size(), 1u);
    ExpectBox(test::FindPixels(pages[0], test::IsRed), 150, c.expected, 3);
  }
}

TEST_F(BitmapPrintTest, AutoDetectTurnsTheWiderPictureToLandscape) {
  channel.autoDetect = 1;
  channel.setOrientation = 1;
  struct Case {
    int width;
    bool landscape;
    DeviceRect expected;  // fit into the portrait borders, crosswise on a landscape page
  };
  const Case cases[] = {{1000, false, {0, 0, 2480, 2480}}, {1001, true, {0, 0, 2482, 2480}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.width);
    ASSERT_TRUE(CupsSandbox::Get().Reset());
    test::WritePicture(Path("square.bmp"), PictureSpec{c.width, 1000, kBlue, 0});
    EXPECT_EQ(Print("square.bmp"), OutputResult::kPrinted);
    const std::string pdf = OnlyJob();
    const auto sizes = test::PdfPageSizes(pdf);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].width > sizes[0].height, c.landscape);
    const auto pages = test::RenderPdf(pdf, 100);
    ASSERT_EQ(pages.size(), 1u);
    ExpectBox(test::FindPixels(pages[0], test::IsBlue), 100, c.expected, 4);
  }
}

TEST_F(BitmapPrintTest, TiffFramesKeepTheirPhysicalSizeOtherPicturesOneDotPerPixel) {
  // A printer of 600 dpi: a 300-dpi TIFF takes two printer dots per pixel, a JPEG that stores
  // 300 dpi one dot per pixel. (The test queue's canvas is 300 dpi; the channel's resolution
  // is what sizes the picture.)
  channel.dpiX = channel.dpiY = 600;
  test::WritePicture(Path("scan.tif"), PictureSpec{200, 100, kBlue, 300});
  test::WritePicture(Path("photo.jpg"), PictureSpec{200, 100, kBlue, 300});
  struct Case {
    const char* file;
    DeviceRect expected;
  };
  for (const Case& c : {Case{"scan.tif", {0, 0, 400, 200}}, Case{"photo.jpg", {0, 0, 200, 100}}}) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(CupsSandbox::Get().Reset());
    EXPECT_EQ(Print(c.file), OutputResult::kPrinted);
    const std::string pdf = OnlyJob();
    // A JPEG goes into the PDF as the file itself, not as re-compressed pixels.
    EXPECT_EQ(pdf.find("/DCTDecode") != std::string::npos, std::string(c.file) == "photo.jpg");
    const auto pages = test::RenderPdf(pdf, 300);
    ASSERT_EQ(pages.size(), 1u);
    ExpectBox(test::FindPixels(pages[0], test::IsBlue), 300, c.expected, 2);
  }
}

TEST_F(BitmapPrintTest, DynamicPaperLengthFollowsThePictureAndSetsAUserPaper) {
  // Border width 2000 dots, 100 dots of vertical borders; a 500 × 1500 picture: image height
  // 2000 × 1500 / 500 = 6000, page height 6100 dots = 516 mm, no vertical centring.
  channel.dynPaperLength = 1;
  channel.center = 1;
  channel.geometry.borderRect = {240, 50, 2240, kPageHeight - 50};
  test::WritePicture(Path("receipt.png"), PictureSpec{500, 1500, kGreen, 0});
  EXPECT_EQ(Print("receipt.png"), OutputResult::kPrinted);
  const std::string pdf = OnlyJob();
  const auto sizes = test::PdfPageSizes(pdf);
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_NEAR(sizes[0].width, DotsToMm(kPageWidth, 300) * 72 / 25.4, 1.5);
  EXPECT_NEAR(sizes[0].height, 516 * 72 / 25.4, 1.5);
  const auto pages = test::RenderPdf(pdf, 75);
  ASSERT_EQ(pages.size(), 1u);
  ExpectBox(test::FindPixels(pages[0], test::IsGreen), 75, {240, 50, 2240, 6050}, 6);
}

TEST_F(BitmapPrintTest, FilesWithoutAFrameToDrawAreRejectedWithoutAJob) {
  // Frames of two pixels or less across or down are not drawn. A file of nothing else has
  // nothing to print, whatever its number of frames: it is refused, not reported as printed.
  channel.stretch = 1;
  test::WritePicture(Path("line.png"), PictureSpec{2, 100, kRed, 0});
  test::WritePicture(Path("flat.png"), PictureSpec{100, 2, kRed, 0});
  test::WritePicture(Path("dots.tif"), std::vector<PictureSpec>(500, PictureSpec{1, 1, kRed, 300}));
  for (const char* name : {"line.png", "flat.png", "dots.tif"}) {
    SCOPED_TRACE(name);
    log.clear();
    EXPECT_EQ(Print(name, 2), OutputResult::kRejected);
    EXPECT_EQ(last.message, "ERROR Picture too small to print: " + Path(name) +
                                " (every image is at most 2 pixels wide or high)");
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(outputs->printer().Printing());
  }
  EXPECT_TRUE(NoJobs());
  EXPECT_TRUE(created.empty());
}

TEST_F(BitmapPrintTest, FramesTooSmallToDrawTakeNoPageOfTheJob) {
  // Tiny frames first, between and last: each copy prints the two drawable frames, on pages
  // of their own and nothing in between; the note counts the file's frames.
  test::WritePicture(
      Path("mixed.tif"),
      {PictureSpec{1, 1, kBlue, 300}, PictureSpec{60, 40, kRed, 300}, PictureSpec{2, 2, kBlue, 300},
       PictureSpec{60, 40, kGreen, 300}, PictureSpec{1, 1, kBlue, 300}});
  WriteField(channel.headerText, "Page <P> of <A>");
  channel.notePosition = 'A';
  EXPECT_EQ(Print("mixed.tif", 2), OutputResult::kPrinted);
  EXPECT_EQ(created.size(), 1u);
  const std::string pdf = OnlyJob("Vellumora: mixed.tif");
  const auto pages = test::RenderPdf(pdf, 30);
  ASSERT_EQ(pages.size(), 4u);
  bool (*colours[])(Rgb) = {test::IsRed, test::IsGreen};
  const char* notes[] = {"Page 2 of 5", "Page 4 of 5"};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_FALSE(test::FindPixels(pages[i], colours[i % 2]).Empty());
    EXPECT_TRUE(test::FindPixels(pages[i], test::IsBlue).Empty());
    EXPECT_NE(test::PdfPageText(pdf, i + 1).find(notes[i % 2]), std::string::npos);
  }

  // The preview shows each copy's first page: the first frame that is drawn.
  ASSERT_TRUE(CupsSandbox::Get().Reset());
  TestPreview preview;
  outputs->preview = &preview;
  EXPECT_EQ(Print("mixed.tif", 2), OutputResult::kPrinted);
  EXPECT_EQ(preview.notes,
            (std::vector<std::string>{"Page <P> of <A> 2/5", "Page <P> of <A> 2/5"}));
  EXPECT_EQ(preview.pictureWidth, 60);
  EXPECT_EQ(test::RenderPdf(OnlyJob(), 20).size(), 4u);
}

TEST_F(BitmapPrintTest, ThreeFramesTwoCopiesMakeOneDocumentOfSixPages) {
  test::WritePicture(Path("three.tif"),
                     {PictureSpec{300, 300, kRed, 300}, PictureSpec{300, 300, kGreen, 300},
                      PictureSpec{300, 300, kBlue, 300}});
  WriteField(channel.headerText, "Page <P> of <A>");
  channel.notePosition = 'A';
  EXPECT_EQ(Print("three.tif", 2), OutputResult::kPrinted);
  const std::string pdf = OnlyJob("Vellumora: three.tif");
  const auto pages = test::RenderPdf(pdf, 30);
  ASSERT_EQ(pages.size(), 6u);
  bool (*colours[])(Rgb) = {test::IsRed, test::IsGreen, test::IsBlue};
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_FALSE(test::FindPixels(pages[i], colours[i % 3]).Empty());
    EXPECT_NE(test::PdfPageText(pdf, i + 1).find("Page " + std::to_string(i % 3 + 1) + " of 3"),
              std::string::npos);
  }
}

TEST_F(BitmapPrintTest, NoteSitsAtTheBottomRightOfThePrintableArea) {
  WriteField(channel.headerText, "Vellumora file <N>");
  channel.notePosition = 'F';
  test::WritePicture(Path("tiny.png"), PictureSpec{10, 10, kRed, 0});
  EXPECT_EQ(Print("tiny.png"), OutputResult::kPrinted);
  const std::string pdf = OnlyJob();
  EXPECT_NE(test::PdfPageText(pdf, 1).find("Vellumora file tiny.png"), std::string::npos);

  // Where the note must be: measured as the printer measures it, on a 300-dpi canvas.
  ImageCanvas measure(10, 10, 300, 300);
  measure.canvas().SetFont(FontSpec{});
  const int32_t w = measure.canvas().MeasureText("Vellumora file tiny.png ").width;
  const int32_t h = measure.canvas().MeasureText("Vellumora file tiny.png").height;
  const int32_t x = kPageWidth - w, y = kPageHeight - h - h / 2;
  const auto pages = test::RenderPdf(pdf, 300);
  ASSERT_EQ(pages.size(), 1u);
  const Box ink = test::FindPixels(pages[0], test::IsDark);
  EXPECT_GE(ink.left, x);
  EXPECT_LE(ink.left, x + 10);
  EXPECT_LE(ink.right, kPageWidth - 10);  // the trailing blank keeps it off the edge
  EXPECT_GE(ink.top, y);
  EXPECT_LE(ink.bottom, y + h);
}

TEST_F(BitmapPrintTest, WatermarkAndsOverPictureAndNote) {
  // A red page (the picture stretched over it); a 600 × 300 watermark.
  channel.stretch = channel.ignoreAratio = 1;
  channel.watermark = 1;
  test::WritePicture(Path("page.png"), PictureSpec{100, 100, kRed, 0});
  struct Case {
    const char* what;
    Rgb colour;
    uint8_t horizontal, vertical;
    DeviceRect dark;  // empty: no dark pixel at all
  };
  const Case cases[] = {
      {"white leaves the page unchanged", {255, 255, 255}, 0, 0, {}},
      {"black blackens what it covers", {0, 0, 0}, 0, 0, {940, 1604, 1540, 1904}},
      {"stretched across", {0, 0, 0}, 1, 0, {0, 1604, kPageWidth, 1904}},
      {"stretched both ways", {0, 0, 0}, 1, 1, {0, 0, kPageWidth, kPageHeight}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(CupsSandbox::Get().Reset());
    test::WritePicture(fs::path(kernel->dataDir) / "Watermark.bmp",
                       PictureSpec{600, 300, c.colour, 0});
    outputs->LoadWatermark();
    ASSERT_EQ(watermark.Width(), 600);
    channel.stretchWMhor = c.horizontal, channel.stretchWMvert = c.vertical;
    EXPECT_EQ(Print("page.png"), OutputResult::kPrinted);
    const auto pages = test::RenderPdf(OnlyJob(), 75);
    ASSERT_EQ(pages.size(), 1u);
    const Box dark = test::FindPixels(pages[0], test::IsDark);
    if (c.dark.right == 0) {
      EXPECT_TRUE(dark.Empty());
      EXPECT_EQ(test::FindPixels(pages[0], [](Rgb p) { return !test::IsRed(p); }).Empty(), true);
    } else {
      ExpectBox(dark, 75, c.dark, 6);
      EXPECT_TRUE(test::IsRed(pages[0].At(10, 10)) || c.horizontal);
    }
  }
}

TEST_F(BitmapPrintTest, DamagedAndOversizedFilesAreRejectedWithTheirLineAndNoJob) {
  std::mt19937 random(7);
  std::string noise(4096, '\0');
  for (char& byte : noise) byte = static_cast<char>(random());
  auto cut = [&](const char* name, int percent) {
    test::WritePicture(Path(name), PictureSpec{200, 150, kRed, 300});
    test::TruncateFile(Path(name), percent);
    return test::ReadFileBytes(Path(name));
  };
  auto firstBytes = [](std::string bytes, std::size_t n) { return bytes.substr(0, n); };
  struct Case {
    const char* name;
    std::string bytes;
    std::string line;  // after the path
  };
  const std::string corrupted = "ERROR Corrupted graphic file ";
  const Case cases[] = {
      {"cut.jpg", cut("cut.jpg", 50), corrupted},
      {"cut.tif", cut("cut.tif", 60), corrupted},
      {"cut.bmp", cut("cut.bmp", 60), corrupted},
      {"random.png", noise, corrupted},
      {"random.tif", "II*" + noise, corrupted},
      // Headers and nothing after them.
      {"header.png", firstBytes(test::PngClaiming(100, 100), 33), corrupted},
      {"header.bmp", firstBytes(test::BmpClaiming(100, 100), 54), corrupted},
      {"header.gif", firstBytes(test::GifClaiming(100, 100), 19), corrupted},
      {"header.tif", std::string("II*\0\x08\0\0\0", 8), corrupted},
      {"header.jpg", firstBytes(cut("header.jpg", 100), 20), corrupted},
      {"huge.png", test::PngClaiming(60000, 60000), "ERROR Picture too large to print: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(Path(c.name), c.bytes);
    log.clear();
    EXPECT_EQ(Print(c.name), OutputResult::kRejected);
    std::string line = c.line + Path(c.name);
    if (c.line != corrupted) line += " (60000 x 60000 pixels)";
    EXPECT_EQ(log, std::vector<std::string>{line});
    EXPECT_FALSE(outputs->printer().Printing());
  }
  EXPECT_TRUE(NoJobs());
  EXPECT_TRUE(created.empty());
}

TEST_F(BitmapPrintTest, StopBeforeAnythingWasDrawnLeavesNoDocument) {
  test::WritePicture(Path("a.png"), PictureSpec{100, 100, kRed, 0});
  stopRequested = 1;
  EXPECT_EQ(Print("a.png"), OutputResult::kStopped);
  EXPECT_FALSE(outputs->printer().Printing());
  EXPECT_TRUE(NoJobs());
}

TEST_F(BitmapPrintTest, PreviewShowsTheFirstPageOfEachCopyAndWaits) {
  TestPreview preview;
  outputs->preview = &preview;
  kernel->currentChannelIndex = 4;
  WriteField(channel.headerText, "<P>");
  test::WritePicture(Path("two.tif"),
                     {PictureSpec{50, 40, kRed, 300}, PictureSpec{50, 40, kGreen, 300}});

  EXPECT_EQ(Print("two.tif", 2), OutputResult::kPrinted);
  EXPECT_EQ(preview.pages.size(), 2u);
  EXPECT_EQ(preview.pages[0].right, kPageWidth);
  EXPECT_EQ(preview.pages[0].bottom, kPageHeight);
  EXPECT_EQ(preview.dpi, 300);
  EXPECT_EQ(preview.channel, 5);
  EXPECT_EQ(preview.name, "two.tif");
  EXPECT_EQ(preview.pictureWidth, 50);
  EXPECT_EQ(preview.images[0].right, 50);
  EXPECT_EQ(preview.notes, (std::vector<std::string>{"<P> 1/2", "<P> 1/2"}));
  EXPECT_EQ(test::RenderPdf(OnlyJob(), 20).size(), 4u);

  // Skip: nothing printed, the operator's answer is the job status.
  ASSERT_TRUE(CupsSandbox::Get().Reset());
  preview.answer = 0;
  EXPECT_EQ(Print("two.tif"), OutputResult::kSkipped);
  EXPECT_FALSE(outputs->printer().Printing());

  // A stop while waiting is no skip: the file must stay.
  preview.stopWhileWaiting = true;
  EXPECT_EQ(Print("two.tif"), OutputResult::kStopped);

  // A hidden window is not asked.
  stopRequested = 0;
  preview = TestPreview{};
  preview.visible = false;
  preview.answer = 0;
  EXPECT_EQ(Print("two.tif"), OutputResult::kPrinted);
  EXPECT_TRUE(preview.pages.empty());
  EXPECT_EQ(kernel->jobStatus, 2);
  EXPECT_EQ(CupsSandbox::Get().WaitForJobs(kQueue, 1).size(), 1u);
}

TEST_F(BitmapPrintTest, PagesPrintedOneByOneFormOneDocument) {
  test::WritePicture(Path("page.tif"), PictureSpec{50, 50, kRed, 300});
  for (int32_t page = 1; page <= 3; ++page) {
    SCOPED_TRACE(page);
    EXPECT_EQ(Print("page.tif", 1, 3, page), OutputResult::kPrinted);
    EXPECT_EQ(outputs->printer().Printing(), page < 3);
    if (page < 3) {
      EXPECT_TRUE(NoJobs());
    }
  }
  EXPECT_EQ(test::PdfPageSizes(OnlyJob()).size(), 3u);
}

TEST_F(BitmapPrintTest, PrinterThatCannotTakeTheJobFailsTheFile) {
  test::WritePicture(Path("a.png"), PictureSpec{100, 100, kRed, 0});
  // No document can be begun without a current printer.
  ASSERT_FALSE(outputs->ResetPrinterObject("no-such-printer"));
  EXPECT_EQ(Print("a.png"), OutputResult::kRetry);
  EXPECT_EQ(last.message, "Print job couldn't be started. Retrying in next cycle.");

  // A queue that refuses jobs: the drawn document does not go out, so the file must stay.
  ASSERT_TRUE(outputs->SelectPrinter(kQueue));
  ASSERT_EQ(std::system("cupsreject capture"), 0);
  EXPECT_EQ(Print("a.png"), OutputResult::kRetry);
  std::system("cupsaccept capture");
  EXPECT_EQ(last.message.rfind("ERROR Print job couldn't be sent to printer capture: ", 0), 0u)
      << last.message;
  EXPECT_FALSE(outputs->printer().Printing());
}

TEST_F(BitmapPrintTest, DroppedPicturesGoThroughTheDispatcher) {
  kernel->output = outputs.get();
  kernel->currentChannel = channel;
  test::WritePicture(Path("good.png"), PictureSpec{100, 100, kRed, 0});
  test::WritePicture(Path("cut.bmp"), PictureSpec{100, 100, kRed, 0});
  test::TruncateFile(Path("cut.bmp"), 50);
  test::WritePicture(Path("later.png"), PictureSpec{100, 100, kRed, 0});

  EXPECT_TRUE(kernel->ProcessFile(Path("good.png"), kQueue, false, "good.png"));
  EXPECT_FALSE(fs::exists(Path("good.png")));
  EXPECT_EQ(CupsSandbox::Get().WaitForJobs(kQueue, 1).size(), 1u);

  // Damaged: logged and disposed of, as a file that can never print.
  EXPECT_TRUE(kernel->ProcessFile(Path("cut.bmp"), kQueue, false, "cut.bmp"));
  EXPECT_TRUE(Logged("ERROR Corrupted graphic file " + Path("cut.bmp")));
  EXPECT_FALSE(fs::exists(Path("cut.bmp")));

  // Nothing in it that could be drawn: refused with its line, disposed of, no success.
  test::WritePicture(Path("dots.tif"), std::vector<PictureSpec>(20, PictureSpec{1, 1, kRed, 0}));
  EXPECT_TRUE(kernel->ProcessFile(Path("dots.tif"), kQueue, false, "dots.tif"));
  EXPECT_TRUE(Logged("ERROR Picture too small to print: " + Path("dots.tif") +
                     " (every image is at most 2 pixels wide or high)"));
  EXPECT_EQ(kernel->statusMessage, "");
  EXPECT_FALSE(fs::exists(Path("dots.tif")));
  EXPECT_EQ(CupsSandbox::Get().CapturedJobs(kQueue).size(), 1u);

  // Stopped before anything was drawn: the file stays for the next run.
  stopRequested = 1;
  EXPECT_FALSE(kernel->ProcessFile(Path("later.png"), kQueue, false, "later.png"));
  EXPECT_TRUE(fs::exists(Path("later.png")));
  EXPECT_EQ(CupsSandbox::Get().CapturedJobs(kQueue).size(), 1u);
}

}  // namespace
}  // namespace vellumora
