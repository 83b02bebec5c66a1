// The picture page layout in the channel's integer and floating-point arithmetic.
#include "output/picture-layout.h"

#include <algorithm>
#include <cmath>

#include "kernel/units.h"

namespace vellumora {

namespace {

// Every intermediate value is kept within ±2^62: the sums and differences of two of them, or
// of one and a 32-bit record field, then cannot overflow 64 bits.
constexpr int64_t kBound = int64_t{1} << 62;

int64_t Bound(__int128 value) {
  return static_cast<int64_t>(std::clamp<__int128>(value, -kBound, kBound));
}

// Truncated toward zero, as the integer conversion does, within the bound.
int64_t Truncate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(kBound)) return kBound;
  if (value <= -static_cast<double>(kBound)) return -kBound;
  return static_cast<int64_t>(value);
}

// a · b / c truncated; c must not be 0.
int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
  return Bound(static_cast<__int128>(a) * b / c);
}

int32_t I32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

PictureLayout LayOutPicture(const PrintChannel& c, const FrameSize& frame) {
  const PageGeometry& g = c.geometry;
  PictureLayout out;

  // The frame's size in printer dots: a frame with a resolution at its physical size.
  const double sx = frame.dpiX > 0 ? static_cast<double>(c.dpiX) / frame.dpiX : 1.0;
  const double sy = frame.dpiY > 0 ? static_cast<double>(c.dpiY) / frame.dpiY : 1.0;
  const int64_t W = Truncate(frame.width * sx);
  const int64_t H = Truncate(frame.height * sy);

  // A square picture is portrait.
  out.landscape = c.autoDetect ? W > H : c.landscape != 0;
  const int64_t paperWidth = g.paperRect.right, paperHeight = g.paperRect.bottom;
  const int64_t pageWidth = out.landscape ? paperHeight : paperWidth;
  int64_t pageHeight = out.landscape ? paperWidth : paperHeight;

  // The image rectangle, from the area inside the borders; the first rule that applies wins.
  const int64_t L = g.borderRect.left, T = g.borderRect.top, R = g.borderRect.right,
                B = g.borderRect.bottom;
  int64_t il = L, it = T, ir = R, ib = B;
  if (c.dynPaperLength && W > 0) {
    // Roll paper: the page is as long as the picture needs at the border width.
    const int64_t h = MulDiv(R - L, H, W);
    pageHeight = h + (paperHeight - (B - T));
    ib = T + h;
  } else if (!c.autoDetect && !c.stretch) {
    ir = L + W;  // natural size
    ib = T + H;
  } else if (c.ignoreAratio) {
    // The border rectangle as it is: the picture is stretched to fill it.
  } else if (W > 0 && H > 0) {
    // Fit keeping the aspect ratio; a landscape page uses the portrait borders crosswise.
    const double fx =
        out.landscape ? static_cast<double>(B - T) / W : static_cast<double>(R - L) / W;
    const double fy =
        out.landscape ? static_cast<double>(R - L) / H : static_cast<double>(B - T) / H;
    const double f = fx <= fy ? fx : fy;
    ir = L + Truncate(W * f);
    ib = T + Truncate(H * f);
  }
  if (c.center) {
    // Centred on the whole page; a page whose length follows the picture has no vertical slack.
    const int64_t w = ir - il, h = ib - it;
    il = (pageWidth - w) / 2;
    ir = (pageWidth + w) / 2;
    if (!c.dynPaperLength) {
      it = (pageHeight - h) / 2;
      ib = (pageHeight + h) / 2;
    }
  }

  out.pageWidth = I32(pageWidth);
  out.pageHeight = I32(pageHeight);
  out.image = DeviceRect{I32(il), I32(it), I32(ir), I32(ib)};
  out.printable = DeviceRect{0, 0, I32(pageWidth - 2 * static_cast<int64_t>(g.printRect.left)),
                             I32(pageHeight - 2 * static_cast<int64_t>(g.printRect.top))};
  // A page that follows the picture, or a fixed user size, is asked for as a user-defined
  // paper of the page's extent; otherwise the channel's paper.
  if (c.dynPaperLength || c.fixedPaperSize)
    out.paper = PaperRequest{kUserDefinedPaper, DotsToMm(out.pageWidth, g.dpiX),
                             DotsToMm(out.pageHeight, g.dpiY)};
  else
    out.paper = PaperRequest{c.paperSize, 0, 0};
  return out;
}

DeviceRect ToCanvas(const DeviceRect& onPage, const PageGeometry& g) {
  const int64_t x = g.printRect.left, y = g.printRect.top;
  return DeviceRect{I32(onPage.left - x), I32(onPage.top - y), I32(onPage.right - x),
                    I32(onPage.bottom - y)};
}

}  // namespace vellumora
