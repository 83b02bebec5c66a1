#include "ui/layout-rules.h"

#include <algorithm>
#include <cstdint>

namespace vellumora::ui {

namespace {

constexpr int32_t kBorderMax = 500;
constexpr int32_t kMinimumImageMm = 10;

int32_t InRange(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, kBorderMax));
}

}  // namespace

BorderMm LimitBorders(BorderMm b, int32_t paperWidthMm, int32_t paperHeightMm,
                      const BorderMm& unprintable) {
  if (paperWidthMm <= 0 || paperHeightMm <= 0) return b;
  const int64_t w = paperWidthMm, h = paperHeightMm;
  if (w - b.right < b.left + kMinimumImageMm) b.left = InRange(w - b.right - kMinimumImageMm);
  if (h - b.bottom < b.top + kMinimumImageMm) b.top = InRange(h - b.bottom - kMinimumImageMm);
  if (w < b.left + kMinimumImageMm) b.left = InRange(w - kMinimumImageMm);
  if (h < b.top + kMinimumImageMm) b.top = InRange(h - kMinimumImageMm);
  b.left = InRange(std::max(b.left, unprintable.left));
  b.top = InRange(std::max(b.top, unprintable.top));
  b.right = InRange(std::max(b.right, unprintable.right));
  b.bottom = InRange(std::max(b.bottom, unprintable.bottom));
  return b;
}

SamplePlacement PlaceSample(int32_t w, int32_t h, int32_t widthDots, const SampleOptions& o) {
  SamplePlacement s;
  const int64_t W = w, H = h;
  int64_t l = 0, t = 0, r = 0, btm = 0;
  if (o.portrait && widthDots >= 1) {
    s.landscapeSample = true;
    r = 2 * W / 3;
    btm = 3 * W / 8;
    if (o.stretch) {
      r = W;
      btm = o.ignoreAratio ? H : 5 * W / 8;
    }
  } else {
    l = W - 3 * H / 8;
    r = W;
    btm = 2 * H / 3;
    if (o.stretch) {
      l = o.ignoreAratio ? 0 : W - 5 * H / 8;
      btm = H;
    }
  }
  if (o.center) {
    const int64_t rw = r - l, rh = btm - t;
    l = (W - rw) / 2;
    r = (W + rw) / 2;
    if (!o.dynPaperLength) {
      t = (H - rh) / 2;
      btm = (H + rh) / 2;
    }
  }
  const auto to32 = [](int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
  };
  s.rect = {to32(l), to32(t), to32(r), to32(btm)};
  return s;
}

}  // namespace vellumora::ui
