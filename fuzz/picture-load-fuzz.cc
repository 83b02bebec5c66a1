// Fuzz target: decoding an untrusted picture file as every picture type, frames 1 and 2, with
// and without pixels. Nothing may crash, hang or allocate beyond the decoding limit.
#include <cstdint>
#include <cstdlib>

#include "platform/files.h"
#include "platform/pictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vellumora::FileHandle file = vellumora::OpenTempFile("/tmp", nullptr);
  if (!file.valid() || !vellumora::WriteAll(file.get(), data, size)) std::abort();
  using vellumora::pictures::Format;
  for (Format format : {Format::kGif, Format::kTiff, Format::kJpeg, Format::kBmp, Format::kPng}) {
    for (int32_t frame : {1, 2}) {
      vellumora::Bitmap picture;
      vellumora::pictures::LoadFrame(format, file.get(), frame, picture, frame == 2);
    }
  }
  return 0;
}
