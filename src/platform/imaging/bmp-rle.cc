// Walking BMP run-length data by its commands, to find where its last row ends.
#include "platform/imaging/bmp-rle.h"

namespace vellumora::pictures {

bool EndRunLengthDataAtLastRow(std::string& data, uint32_t height, bool fourBitPixels) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(data[i]); };
  uint64_t row = 0;
  std::size_t i = 0;
  while (i + 2 <= data.size()) {
    if (byte(i) != 0) {  // a run: count, colour
      i += 2;
      continue;
    }
    const uint8_t command = byte(i + 1);
    if (command == 0) {  // end of line
      if (++row >= height) {
        data.resize(i);
        data += std::string("\0\1", 2);
        return true;
      }
      i += 2;
    } else if (command == 1) {  // end of bitmap
      return false;
    } else if (command == 2) {  // delta: right, down
      if (i + 4 > data.size()) return false;
      row += byte(i + 3);
      i += 4;
    } else {  // absolute run of `command` pixels, padded to a 16-bit boundary
      std::size_t bytes = fourBitPixels ? (command + 1u) / 2 : command;
      bytes += bytes & 1;
      i += 2 + bytes;
    }
  }
  return false;
}

}  // namespace vellumora::pictures
