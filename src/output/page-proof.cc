// Page proofs: a picture page drawn into memory by the code that draws it for the printer.
#include "output/page-proof.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "kernel/readable-text.h"
#include "output/outputs.h"
#include "output/picture-layout.h"
#include "output/picture-page.h"
#include "platform/cairo/cairo-canvas.h"
#include "platform/pictures.h"

namespace vellumora {

namespace {

// A page longer than a kilometre is a damaged record's, never a sheet to draw: no print server
// is asked for such a paper either.
constexpr int64_t kLargestPageMm = 1000000;

PageProof Refused(std::string error) {
  PageProof proof;
  proof.error = std::move(error);
  return proof;
}

bool BeyondAnyPaper(int64_t dots, int64_t dpi) {
  return dots * 254 > kLargestPageMm * 10 * dpi;
}

}  // namespace

PageProof ProofPicturePage(Outputs& outputs, const PrintChannel& channel, const std::string& path,
                           double scale) {
  if (!std::isfinite(scale) || scale <= 0)
    return Refused("ERROR Page proof: the scale must be a number above 0");
  const PageGeometry& g = channel.geometry;
  if (g.dpiX <= 0 || g.dpiY <= 0)
    return Refused("ERROR Page proof: the channel's printer resolution is unknown");

  // Opened once; the decoder reads only through this descriptor.
  const FileHandle file = pictures::OpenPictureFile(path);
  if (!file.valid()) return Refused("ERROR Picture file couldn't be opened: " + ReadableText(path));
  Bitmap frame;
  // Not Outputs::LoadGraphicFrame: that sets the kernel's imageDpiX/Y, which a job printing on
  // the engine thread at the same time reads for its own layout.
  const LoadedFrame loaded = ReadGraphicFrame(frame, file.get(), path, 1);
  if (loaded.count < 1) return Refused(loaded.failure);
  if (!frame.HasPixels()) return Refused("ERROR Corrupted graphic file " + ReadableText(path));
  // The printer draws no page for such a frame; the proof says so in the printer's words.
  if (frame.width <= 2 || frame.height <= 2)
    return Refused("ERROR Picture too small to print: " + ReadableText(path) +
                   " (every image is at most 2 pixels wide or high)");
  const PictureLayout layout =
      LayOutPicture(channel, FrameSize{frame.width, frame.height, loaded.dpiX, loaded.dpiY});
  if (layout.image.Width() < 1 || layout.image.Height() < 1)
    return Refused("ERROR Picture too small to print: " + ReadableText(path) +
                   " (the channel's printer resolution is unknown)");

  // The printer's sheet in the page's orientation: turned to landscape, its resolutions and
  // the offsets of its printable area change places, as the printer object's metrics do. The
  // canvas origin lies at that offset on the sheet. Only a channel that sets the printer's
  // orientation turns the sheet; otherwise the landscape layout lands on the upright sheet, as
  // it does on paper.
  const bool landscape = layout.landscape && channel.setOrientation != 0;
  const int32_t dpiAcross = landscape ? g.dpiY : g.dpiX;
  const int32_t dpiDown = landscape ? g.dpiX : g.dpiY;
  const int32_t originX = landscape ? g.printRect.top : g.printRect.left;
  const int32_t originY = landscape ? g.printRect.left : g.printRect.top;
  const bool upright = layout.landscape && !landscape;
  const int64_t pageWidth = upright ? layout.pageHeight : layout.pageWidth;
  const int64_t pageHeight = upright ? layout.pageWidth : layout.pageHeight;
  if (pageWidth < 1 || pageHeight < 1)
    return Refused("ERROR Page proof: the channel's page has no size");
  if (BeyondAnyPaper(pageWidth, dpiAcross) || BeyondAnyPaper(pageHeight, dpiDown))
    return Refused("ERROR Page proof: the channel's page is larger than any paper");

  // Square pixels on paper, and never more than kMaxProofSide of them on a side.
  double scaleX = scale;
  double scaleY = scale * dpiDown / dpiAcross;
  const double fit =
      std::min({1.0, kMaxProofSide / (pageWidth * scaleX), kMaxProofSide / (pageHeight * scaleY)});
  scaleX *= fit;
  scaleY *= fit;
  // Whole pixels holding the whole sheet (a hair of rounding error is no extra pixel).
  const auto pixels = [](double extent) {
    return static_cast<int32_t>(std::clamp(std::ceil(extent - 1e-6), 1.0, double{kMaxProofSide}));
  };
  const int32_t width = pixels(pageWidth * scaleX);
  const int32_t height = pixels(pageHeight * scaleY);

  ImageCanvas image(
      width, height, dpiAcross, dpiDown,
      ImagePlacement{scaleX, scaleY, static_cast<double>(originX), static_cast<double>(originY)});
  DrawPicturePage(image.canvas(), channel, outputs.watermark(), layout, frame, loaded.count, 1,
                  std::filesystem::path(path).filename().string(), outputs.kernel().localClock);
  PageProof proof;
  proof.page = image.Snapshot();
  if (!proof.page.HasPixels()) return Refused("ERROR Page proof: no memory for the page picture");
  proof.ok = true;
  proof.pageWidthDots = static_cast<int32_t>(pageWidth);
  proof.pageHeightDots = static_cast<int32_t>(pageHeight);
  proof.landscape = landscape;
  proof.scaleX = scaleX;
  proof.scaleY = scaleY;
  return proof;
}

}  // namespace vellumora
