// The one watermark picture shared by all channels; empty until scanning starts and loads it.
#pragma once

#include <cstdint>
#include <vector>

namespace vellumora {

class WatermarkBitmap {
 public:
  bool Empty() const { return width_ == 0 || height_ == 0; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void Clear();

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> pixels_;  // 32-bit BGRA rows, top row first
};

}  // namespace vellumora
