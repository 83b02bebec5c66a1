// A proof of a picture page: the page exactly as the printer would get it, drawn into a picture
// in memory instead of being printed, for checking a channel's layout with a real file.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/print-channel.h"
#include "platform/canvas.h"

namespace vellumora {

class Outputs;

struct PageProof {
  bool ok = false;
  std::string error;  // why there is no proof, as a log line ("ERROR ...")
  // The whole sheet: BGRA rows, top row first, white where nothing is drawn.
  Bitmap page;
  // The laid-out page in printer dots, in its orientation.
  int32_t pageWidthDots = 0, pageHeightDots = 0;
  bool landscape = false;
  // Picture pixels per printer dot across and down, as drawn: the scale asked for, or less
  // where the picture would exceed kMaxProofSide. Down differs from across only for printers
  // whose dots are not square, so that the picture shows the sheet in its true proportions.
  double scaleX = 0, scaleY = 0;
};

// The longest side of a proof picture, in pixels (64 MB at 4 bytes a pixel).
inline constexpr int32_t kMaxProofSide = 4096;

// Frame 1 of the picture file `path` laid out by `channel`'s rules (the record as given, saved
// or not), with its text note ("<N>" the file's name, page 1 of the file's frame count) and
// the watermark, drawn on a white page of the laid-out page size at `scale` picture pixels per
// printer dot. The page is drawn by the code that draws printed pages, with the printer's
// origin and resolution. It never prints, never touches the printer or its settings, logs
// nothing and changes no job state of the kernel. It reads the outputs' watermark picture, so
// it must not run while scanning starts (which loads that picture again).
PageProof ProofPicturePage(Outputs& outputs, const PrintChannel& channel, const std::string& path,
                           double scale);

}  // namespace vellumora
