// Run-length encoded BMP pixel data (RLE8, RLE4) made acceptable to FreeImage.
#pragma once

#include <cstdint>
#include <string>

namespace vellumora::pictures {

// `data` ended after the end of its last row: many writers (Windows' own among them) close
// the last row with an end-of-line before the end-of-bitmap marker, which FreeImage takes for
// a row beyond the picture and refuses the file. The end-of-line that would begin row
// `height` and everything after it become one end-of-bitmap marker. Data that never gets
// there is left as it is (a damaged stream stays damaged). True when `data` was changed.
bool EndRunLengthDataAtLastRow(std::string& data, uint32_t height, bool fourBitPixels);

}  // namespace vellumora::pictures
