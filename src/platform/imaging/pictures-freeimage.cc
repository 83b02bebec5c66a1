// Picture decoding on FreeImage (libtiff underneath for TIFF files).
//
// FreeImage does not reliably report damaged files through its results: a truncated JPEG comes
// back as a full-size bitmap whose missing part is grey, with only a message; a truncated BMP
// comes back without any message at all. So every decode is watched: the library's messages
// (and libtiff's errors) raise a per-thread flag, and BMP files are measured against what their
// header promises before they are decoded.
#include <FreeImage.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "platform/pictures.h"

namespace vellumora::pictures {

namespace {

// What the decoding library said while this thread decoded the current file.
struct DecodeWatch {
  bool damaged = false;
  std::string message;
};
thread_local DecodeWatch tWatch;

// Messages that well-formed files can produce too; everything else means the data is damaged.
bool IsHarmless(std::string_view message) {
  constexpr std::string_view kHarmless[] = {
      "unknown JFIF revision",  // newer JFIF minor versions
      "Adobe",                  // JPEG Adobe transform warnings
      "ICC",                    // colour profiles (JPEG markers, PNG iCCP chunks)
      "iCCP",
      "sRGB",
      "tEXt",
      "zTXt",
      "iTXt",  // PNG text chunks
      "gAMA",
      "cHRM",
      "Exif",
      "EXIF",  // metadata that is not understood
      "IPTC",
      "XMP",
      "unknown tag",  // libtiff, asked by FreeImage's metadata reader for tags it lacks
  };
  for (std::string_view h : kHarmless)
    if (message.find(h) != std::string_view::npos) return true;
  return false;
}

void RecordMessage(std::string_view message) {
  if (IsHarmless(message)) return;
  if (!tWatch.damaged) tWatch.message = std::string(message);
  tWatch.damaged = true;
}

void OnFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
  RecordMessage(message ? message : "damaged data");
}

void OnTiffError(const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  RecordMessage(module ? std::string(module) + ": " + text : std::string(text));
}

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    FreeImage_Initialise(FALSE);
    FreeImage_SetOutputMessage(OnFreeImageMessage);
    // libtiff writes a line to stderr for every tag it does not know: those are no damage.
    // Its errors are, and are recorded like FreeImage's own messages.
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(OnTiffError);
  });
}

FREE_IMAGE_FORMAT ToFreeImage(Format f) {
  switch (f) {
    case Format::kGif:
      return FIF_GIF;
    case Format::kTiff:
      return FIF_TIFF;
    case Format::kJpeg:
      return FIF_JPEG;
    case Format::kBmp:
      return FIF_BMP;
    case Format::kPng:
      return FIF_PNG;
  }
  return FIF_UNKNOWN;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Reads a BMP file whole and checks that it holds all the pixel data its header promises:
// FreeImage reads a short file without complaint and leaves the missing rows as they happened
// to be. Files with the newer (V4, V5) info headers, which this FreeImage refuses as an
// invalid format, are rewritten with the classic 40-byte header: the colour space data those
// headers add is not needed for printing. Returns the bytes to decode, or empty with *why.
std::vector<uint8_t> ReadBmp(const std::string& path, std::string* why) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> file;
  if (in) file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    *why = "cannot read the file";
    return {};
  }
  if (file.size() < 26 || file[0] != 'B' || file[1] != 'M') {
    *why = "not a BMP file";
    return {};
  }
  const uint8_t* h = file.data();
  const uint64_t dataOffset = Le32(&h[10]);
  const uint32_t headerSize = Le32(&h[14]);
  uint64_t width = 0, height = 0, bits = 0, compression = 0, imageSize = 0, colours = 0;
  if (headerSize == 12) {  // OS/2 core header
    width = Le16(&h[18]);
    height = Le16(&h[20]);
    bits = Le16(&h[24]);
  } else if (headerSize >= 40 && file.size() >= 54) {
    width =
        static_cast<uint64_t>(std::abs(static_cast<int64_t>(static_cast<int32_t>(Le32(&h[18])))));
    height =
        static_cast<uint64_t>(std::abs(static_cast<int64_t>(static_cast<int32_t>(Le32(&h[22])))));
    bits = Le16(&h[28]);
    compression = Le32(&h[30]);
    imageSize = Le32(&h[34]);
    colours = Le32(&h[46]);
  } else {
    *why = "unknown BMP header";
    return {};
  }
  // Plain rows (and bit fields) have a known size; compressed data has the size it declares.
  const uint64_t available = file.size() > dataOffset ? file.size() - dataOffset : 0;
  bool complete = false;
  if (compression == 0 || compression == 3 || compression == 6) {
    const uint64_t rowBytes = (width * bits + 31) / 32 * 4;  // below 2^48: no overflow
    complete = dataOffset <= file.size() && (rowBytes == 0 || height <= available / rowBytes);
  } else {
    complete = dataOffset <= file.size() && imageSize <= available;
  }
  if (!complete) {
    *why = "the file is shorter than its pixel data";
    return {};
  }
  if (headerSize <= 40 || headerSize + 14 > dataOffset || file.size() < 14 + 52) return file;

  // The classic layout: file header, 40-byte info header, the three colour masks of bit-field
  // files (which the newer headers keep at the same place), the palette, the pixels.
  std::vector<uint8_t> classic(file.begin(), file.begin() + 14 + 40);
  classic[14] = 40, classic[15] = classic[16] = classic[17] = 0;
  if (compression == 3 || compression == 6) {
    classic.insert(classic.end(), file.begin() + 54, file.begin() + 66);
    classic[30] = 3, classic[31] = classic[32] = classic[33] = 0;
  }
  if (bits <= 8) {
    const uint64_t entries =
        colours != 0 ? std::min<uint64_t>(colours, 256) : (uint64_t{1} << bits);
    const uint64_t from = 14 + headerSize;
    const uint64_t to = std::min<uint64_t>(from + entries * 4, dataOffset);
    classic.insert(classic.end(), file.begin() + static_cast<std::ptrdiff_t>(from),
                   file.begin() + static_cast<std::ptrdiff_t>(to));
  }
  const auto newOffset = static_cast<uint32_t>(classic.size());
  for (int i = 0; i < 4; ++i) classic[10 + i] = static_cast<uint8_t>(newOffset >> (8 * i));
  classic.insert(classic.end(), file.begin() + static_cast<std::ptrdiff_t>(dataOffset), file.end());
  const auto total = static_cast<uint32_t>(classic.size());
  for (int i = 0; i < 4; ++i) classic[2 + i] = static_cast<uint8_t>(total >> (8 * i));
  return classic;
}

uint8_t OverWhite(uint8_t c, uint8_t a) {
  return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// Copies a decoded image into `out` as opaque top-down BGRA. Returns false when it has no pixels
// FreeImage can convert.
bool CopyToBitmap(FIBITMAP* dib, Bitmap& out) {
  FIBITMAP* converted = nullptr;
  FIBITMAP* src = dib;
  if (FreeImage_GetImageType(src) != FIT_BITMAP) {
    // 16 bits per sample, floating point and the like: scaled to 8 bits per sample.
    converted = FreeImage_ConvertToType(src, FIT_BITMAP, TRUE);
    if (!converted) return false;
    src = converted;
  }
  const unsigned bpp = FreeImage_GetBPP(src);
  if (bpp != 24 && bpp != 32) {
    // Palettes (transparent entries become alpha 0), grey levels and 16-bit colours.
    FIBITMAP* c32 = FreeImage_ConvertTo32Bits(src);
    if (converted) FreeImage_Unload(converted);
    converted = c32;
    src = c32;
    if (!src) return false;
  }
  const auto width = static_cast<int32_t>(FreeImage_GetWidth(src));
  const auto height = static_cast<int32_t>(FreeImage_GetHeight(src));
  const unsigned srcBytes = FreeImage_GetBPP(src) / 8;
  out.jpegFile.reset();  // these pixels come from no JPEG file unless the caller says so
  out.width = width;
  out.height = height;
  out.stride = width * 4;
  out.bgra.clear();
  out.bgra.shrink_to_fit();
  out.bgra.resize(static_cast<std::size_t>(out.stride) * height);
  for (int32_t y = 0; y < height; ++y) {
    // FreeImage keeps the bottom row first.
    const uint8_t* s = FreeImage_GetScanLine(src, static_cast<int>(height - 1 - y));
    uint8_t* d = out.bgra.data() + static_cast<std::size_t>(y) * out.stride;
    if (srcBytes == 3) {
      for (int32_t x = 0; x < width; ++x, s += 3, d += 4) {
        d[0] = s[FI_RGBA_BLUE];
        d[1] = s[FI_RGBA_GREEN];
        d[2] = s[FI_RGBA_RED];
        d[3] = 255;
      }
    } else {
      for (int32_t x = 0; x < width; ++x, s += 4, d += 4) {
        const uint8_t a = s[FI_RGBA_ALPHA];
        d[0] = OverWhite(s[FI_RGBA_BLUE], a);
        d[1] = OverWhite(s[FI_RGBA_GREEN], a);
        d[2] = OverWhite(s[FI_RGBA_RED], a);
        d[3] = 255;
      }
    }
  }
  if (converted) FreeImage_Unload(converted);
  return true;
}

int32_t Dpi(unsigned dotsPerMeter) {
  const double dpi = std::round(dotsPerMeter * 0.0254);
  // Stored as a 16-bit unsigned value: anything outside counts as no resolution.
  return dpi >= 0 && dpi <= 65535 ? static_cast<int32_t>(dpi) : 0;
}

// Decodes `dib` into `out` unless the decoder reported damage; fills the resolution.
bool Take(FIBITMAP* dib, Bitmap& out, FrameResult& r) {
  if (!dib) {
    r.error = tWatch.damaged ? tWatch.message : "the decoder could not read the image";
    return false;
  }
  if (tWatch.damaged) {
    r.error = tWatch.message;
    return false;
  }
  if (FreeImage_GetWidth(dib) == 0 || FreeImage_GetHeight(dib) == 0) {
    r.error = "the image has no pixels";
    return false;
  }
  r.dpiX = Dpi(FreeImage_GetDotsPerMeterX(dib));
  r.dpiY = Dpi(FreeImage_GetDotsPerMeterY(dib));
  if (!CopyToBitmap(dib, out)) {
    r.error = "the image's pixel format cannot be converted";
    return false;
  }
  r.decoded = true;
  return true;
}

// Whether the TIFF directory of `frame` stores a resolution at all. FreeImage reports 300 dpi
// for a file without one, which would size its pictures as if the file had said so.
bool TiffHasResolution(const std::string& path, int32_t frame) {
  const DecodeWatch saved = tWatch;
  bool has = false;
  if (TIFF* tiff = TIFFOpen(path.c_str(), "r")) {
    float x = 0, y = 0;
    has = TIFFSetDirectory(tiff, static_cast<tdir_t>(frame - 1)) &&
          TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) &&
          TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) && x > 0 && y > 0;
    TIFFClose(tiff);
  }
  tWatch = saved;
  return has;
}

FrameResult LoadMultiPage(const std::string& path, int32_t frame, Bitmap& out) {
  FrameResult r;
  // Read-only, not kept in memory as a whole: pages are decoded one by one.
  FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(FIF_TIFF, path.c_str(), FALSE, TRUE, FALSE, 0);
  if (!multi) {
    r.error = tWatch.damaged ? tWatch.message : "the file cannot be opened as a TIFF file";
    return r;
  }
  const int count = FreeImage_GetPageCount(multi);
  if (count < 1) {
    r.error = "the file holds no image";
  } else if (frame > count || frame < 1) {
    r.frameCount = count;  // nothing to decode
  } else {
    FIBITMAP* page = FreeImage_LockPage(multi, frame - 1);
    if (Take(page, out, r)) r.frameCount = count;
    if (page) FreeImage_UnlockPage(multi, page, FALSE);
  }
  FreeImage_CloseMultiBitmap(multi, 0);
  if (r.decoded && !TiffHasResolution(path, frame)) r.dpiX = r.dpiY = 0;
  if (tWatch.damaged && r.frameCount > 0 && r.decoded) {
    // Damage reported while the page was released still means the frame was not whole.
    r = FrameResult{};
    r.error = tWatch.message;
  }
  return r;
}

FrameResult LoadBmp(const std::string& path, int32_t frame, Bitmap& out) {
  FrameResult r;
  std::vector<uint8_t> bytes = ReadBmp(path, &r.error);
  if (bytes.empty()) return r;
  FIMEMORY* memory = FreeImage_OpenMemory(bytes.data(), static_cast<DWORD>(bytes.size()));
  if (!memory) {
    r.error = "not enough memory for the image";
    return r;
  }
  FIBITMAP* dib = FreeImage_LoadFromMemory(FIF_BMP, memory, frame == 1 ? 0 : FIF_LOAD_NOPIXELS);
  if (frame != 1) {
    if (dib && !tWatch.damaged)
      r.frameCount = 1;  // one image per file: nothing to decode
    else
      r.error = tWatch.damaged ? tWatch.message : "the decoder could not read the image";
  } else if (Take(dib, out, r)) {
    r.frameCount = 1;
  }
  if (dib) FreeImage_Unload(dib);
  FreeImage_CloseMemory(memory);
  return r;
}

// The image size a JPEG file declares in its frame header (the first SOF marker), as PDF
// readers and cairo take it; false when there is none.
bool JpegFrameSize(const std::string& jpeg, int* width, int* height) {
  std::size_t i = 2;
  if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF ||
      static_cast<unsigned char>(jpeg[1]) != 0xD8)
    return false;
  while (i + 4 <= jpeg.size()) {
    if (static_cast<unsigned char>(jpeg[i]) != 0xFF) return false;
    const unsigned marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    const std::size_t length =
        static_cast<unsigned char>(jpeg[i + 2]) << 8 | static_cast<unsigned char>(jpeg[i + 3]);
    const bool sof =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof) {
      if (i + 9 > jpeg.size()) return false;
      *height =
          static_cast<unsigned char>(jpeg[i + 5]) << 8 | static_cast<unsigned char>(jpeg[i + 6]);
      *width =
          static_cast<unsigned char>(jpeg[i + 7]) << 8 | static_cast<unsigned char>(jpeg[i + 8]);
      return true;
    }
    if (marker == 0xDA || marker == 0xD9 || length < 2)
      return false;  // image data before a frame header
    i += 2 + length;
  }
  return false;
}

FrameResult LoadSingle(Format format, const std::string& path, int32_t frame, Bitmap& out,
                       bool pixelsOptional) {
  FrameResult r;
  if (format == Format::kBmp) return LoadBmp(path, frame, out);
  // GIF files give their first image whatever frame is asked for.
  if (format != Format::kGif && frame != 1) {
    // One image per file: nothing to decode beyond it, but the file must be readable.
    FIBITMAP* header = FreeImage_Load(ToFreeImage(format), path.c_str(), FIF_LOAD_NOPIXELS);
    if (!header) {
      r.error = "the decoder could not read the image";
      return r;
    }
    FreeImage_Unload(header);
    r.frameCount = 1;
    return r;
  }
  const int flags = format == Format::kJpeg ? JPEG_ACCURATE : 0;
  FIBITMAP* dib = FreeImage_Load(ToFreeImage(format), path.c_str(), flags);
  const bool plainJpeg =
      format == Format::kJpeg && dib &&
      (FreeImage_GetColorType(dib) == FIC_RGB || FreeImage_GetColorType(dib) == FIC_MINISBLACK);
  // The JPEG file itself, for PDF pages, which can carry it unchanged: when its frame header
  // declares the size the decoder found, the file is exactly the decoded picture.
  auto readJpeg = [&](int32_t width, int32_t height) -> std::shared_ptr<const std::string> {
    std::ifstream in(path, std::ios::binary);
    auto bytes = std::make_shared<std::string>((std::istreambuf_iterator<char>(in)),
                                               std::istreambuf_iterator<char>());
    int w = 0, h = 0;
    if ((in.good() || in.eof()) && JpegFrameSize(*bytes, &w, &h) && w == width && h == height)
      return bytes;
    return nullptr;
  };
  if (plainJpeg && pixelsOptional && !tWatch.damaged) {
    // The decode proved the file whole; a page that carries the file needs no pixels.
    const auto width = static_cast<int32_t>(FreeImage_GetWidth(dib));
    const auto height = static_cast<int32_t>(FreeImage_GetHeight(dib));
    if (auto jpeg = readJpeg(width, height)) {
      out = Bitmap{};
      out.width = width;
      out.height = height;
      out.jpegFile = std::move(jpeg);
      r.dpiX = Dpi(FreeImage_GetDotsPerMeterX(dib));
      r.dpiY = Dpi(FreeImage_GetDotsPerMeterY(dib));
      r.decoded = true;
      r.frameCount = 1;
      FreeImage_Unload(dib);
      return r;
    }
  }
  const bool taken = Take(dib, out, r);
  if (dib) FreeImage_Unload(dib);  // before the file is read again: the decoder's copy is large
  if (taken) {
    r.frameCount = 1;
    if (plainJpeg) out.jpegFile = readJpeg(out.width, out.height);
  }
  return r;
}

}  // namespace

FrameResult LoadFrame(Format format, const std::string& path, int32_t frame, Bitmap& out,
                      bool pixelsOptional) {
  InitialiseOnce();
  tWatch = DecodeWatch{};
  FrameResult r;
  try {
    r = format == Format::kTiff ? LoadMultiPage(path, frame, out)
                                : LoadSingle(format, path, frame, out, pixelsOptional);
  } catch (const std::bad_alloc&) {
    r = FrameResult{};
    r.error = "not enough memory for the image";
  }
  if (r.frameCount == 0) {
    out = Bitmap{};
    if (r.error.empty()) r.error = "the file cannot be decoded";
  }
  tWatch = DecodeWatch{};
  return r;
}

}  // namespace vellumora::pictures
