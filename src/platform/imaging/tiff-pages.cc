// TIFF pages through libtiff: floating-point samples by hand, the rest through TIFFRGBAImage.
#include "platform/imaging/tiff-pages.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

namespace vellumora::pictures {

namespace {

uint8_t OverWhite(double value, double alpha) {
  const double v = value * alpha + (1.0 - alpha);
  return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

double Clamp01(double v) {
  return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
}

void AllocateBitmap(Bitmap& b, uint32_t width, uint32_t height) {
  b.width = static_cast<int32_t>(width);
  b.height = static_cast<int32_t>(height);
  b.stride = b.width * 4;
  b.jpegFile.reset();
  b.bgra.assign(static_cast<std::size_t>(b.stride) * b.height, 255);
}

// Grey or RGB, with or without an alpha sample, in 32- or 64-bit IEEE floating point, pixels
// interleaved, in strips.
bool DecodeFloatSamples(TIFF* tiff, uint32_t width, uint32_t height, uint16_t bits,
                        uint16_t samples, uint16_t photometric, Bitmap& out, std::string* why) {
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
  const uint16_t colours = grey ? 1 : 3;
  if ((!grey && photometric != PHOTOMETRIC_RGB) || samples < colours || samples > colours + 1 ||
      TIFFIsTiled(tiff)) {
    *why = "floating-point TIFF pages of this layout cannot be decoded";
    return false;
  }
  const tmsize_t lineSize = TIFFScanlineSize(tiff);
  const std::size_t need = static_cast<std::size_t>(width) * samples * (bits / 8);
  if (lineSize <= 0 || static_cast<std::size_t>(lineSize) < need) {
    *why = "the TIFF page's rows cannot be read";
    return false;
  }
  std::vector<uint8_t> line(static_cast<std::size_t>(lineSize));
  AllocateBitmap(out, width, height);
  auto sample = [&](uint32_t i) -> double {
    if (bits == 32) {
      float f;
      std::memcpy(&f, line.data() + i * 4, 4);
      return f;
    }
    double d;
    std::memcpy(&d, line.data() + std::size_t{i} * 8, 8);
    return d;
  };
  for (uint32_t y = 0; y < height; ++y) {
    if (TIFFReadScanline(tiff, line.data(), y, 0) < 0) {
      *why = "the TIFF page's rows cannot be read";
      return false;
    }
    uint8_t* d = out.bgra.data() + static_cast<std::size_t>(y) * out.stride;
    for (uint32_t x = 0; x < width; ++x, d += 4) {
      const uint32_t at = x * samples;
      const double alpha = samples > colours ? Clamp01(sample(at + colours)) : 1.0;
      if (grey) {
        double v = Clamp01(sample(at));
        if (photometric == PHOTOMETRIC_MINISWHITE) v = 1.0 - v;
        d[0] = d[1] = d[2] = OverWhite(v, alpha);
      } else {
        d[2] = OverWhite(Clamp01(sample(at)), alpha);
        d[1] = OverWhite(Clamp01(sample(at + 1)), alpha);
        d[0] = OverWhite(Clamp01(sample(at + 2)), alpha);
      }
    }
  }
  return true;
}

// libtiff's RGBA reader: every photometric interpretation and bit depth it knows, as stored.
bool DecodeRgba(TIFF* tiff, uint32_t width, uint32_t height, Bitmap& out, std::string* why) {
  char message[1024] = {};
  if (!TIFFRGBAImageOK(tiff, message)) {
    *why = message[0] ? message : "the TIFF page cannot be decoded";
    return false;
  }
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
  std::vector<uint32_t> raster(static_cast<std::size_t>(width) * height);
  // Asked for the page's own orientation, the reader turns nothing: that is the caller's.
  if (!TIFFReadRGBAImageOriented(tiff, width, height, raster.data(), orientation, 1)) {
    *why = "the TIFF page cannot be decoded";
    return false;
  }
  AllocateBitmap(out, width, height);
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t* s = raster.data() + static_cast<std::size_t>(y) * width;
    uint8_t* d = out.bgra.data() + static_cast<std::size_t>(y) * out.stride;
    for (uint32_t x = 0; x < width; ++x, d += 4) {
      // Premultiplied by alpha (libtiff's associated alpha): over white adds the rest.
      const uint32_t a = TIFFGetA(s[x]);
      d[0] = static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetB(s[x]) + 255 - a));
      d[1] = static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetG(s[x]) + 255 - a));
      d[2] = static_cast<uint8_t>(std::min<uint32_t>(255, TIFFGetR(s[x]) + 255 - a));
    }
  }
  return true;
}

}  // namespace

bool DecodeTiffPage(TIFF* tiff, Bitmap& out, std::string* why) {
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 1, format = SAMPLEFORMAT_UINT, photometric = 0;
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
      !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height) || width == 0 || height == 0 ||
      width > INT32_MAX / 4 || height > INT32_MAX) {
    *why = "the TIFF page has no pixels";
    return false;
  }
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
  Bitmap decoded;
  bool ok = false;
  try {
    if (format == SAMPLEFORMAT_IEEEFP && (bits == 32 || bits == 64) &&
        planar == PLANARCONFIG_CONTIG)
      ok = DecodeFloatSamples(tiff, width, height, bits, samples, photometric, decoded, why);
    else
      ok = DecodeRgba(tiff, width, height, decoded, why);
  } catch (const std::bad_alloc&) {
    *why = "not enough memory for the image";
    ok = false;
  }
  if (ok) out = std::move(decoded);
  return ok;
}

}  // namespace vellumora::pictures
