// The arithmetic of the page layout page, apart from its controls: the limits of the white
// borders and where the preview's sample picture goes. Integer arithmetic truncates toward
// zero, as the stored records were made with it.
#pragma once

#include <cstdint>

#include "kernel/print-channel.h"

namespace vellumora::ui {

// The four white borders in millimetres.
struct BorderMm {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const BorderMm&) const = default;
};

// The borders corrected so that at least 10 mm of width and height stay for the picture and
// none lies inside the part of the sheet the printer cannot reach (the `unprintable` margins).
// Every value is kept within the border controls' range of 0 to 500 mm after each step, as the
// controls keep theirs. Unchanged when the paper's width or height is not above 0.
BorderMm LimitBorders(BorderMm borders, int32_t paperWidthMm, int32_t paperHeightMm,
                      const BorderMm& unprintable);

// The boxes of the scaling and orientation group that decide where the sample goes.
struct SampleOptions {
  bool portrait = false;
  bool stretch = false;
  bool ignoreAratio = false;
  bool center = false;
  bool dynPaperLength = false;
};
// The sample picture's rectangle in dots from the top left corner of the image area of
// w × h dots, and which sample it shows: the landscape sample when `landscapeSample`.
struct SamplePlacement {
  Rect32 rect;
  bool landscapeSample = false;
};
SamplePlacement PlaceSample(int32_t w, int32_t h, int32_t widthDots, const SampleOptions& options);

}  // namespace vellumora::ui
