// Picture decoding on FreeImage (libtiff underneath for TIFF files), through the open file.
//
// The file is read only through the descriptor the caller opened, with positioned reads at a
// position of our own (FreeImage's handle interface, libtiff's client interface): the name may
// stand for another file by now, and the descriptor's own offset stays the caller's.
//
// FreeImage does not reliably report damaged files through its results: a truncated JPEG comes
// back as a full-size bitmap whose missing part is grey, with only a message; a truncated BMP
// comes back without any message at all. So every decode is watched: the library's messages
// (and libtiff's errors) raise a per-thread flag, and BMP files are measured against what their
// header promises before they are decoded.
//
// FreeImage allocates a frame's whole bitmap from its header before it reads a single pixel, so
// a few bytes claiming 60000 × 60000 pixels would cost gigabytes. Every frame's declared size
// is read first (header-only decoding, libtiff's directory, the GIF image descriptor, the BMP
// info header) and a frame above MaxDecodedBytes() is refused without being decoded.
#include <FreeImage.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/imaging/bmp-rle.h"
#include "platform/imaging/cmyk-profile.h"
#include "platform/imaging/orientation.h"
#include "platform/imaging/tiff-pages.h"
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

// A picture file as the decoders read it: `prefix` (bytes in memory: a rewritten header), the
// file's bytes from `fdStart` to `fdEnd`, read with pread at the stream's own position, and
// `suffix` (bytes in memory: a missing end marker).
struct FileStream {
  int fd = -1;
  int64_t fdStart = 0;
  int64_t fdEnd = 0;
  std::string_view prefix;
  std::string_view suffix;
  int64_t pos = 0;

  int64_t Size() const {
    return static_cast<int64_t>(prefix.size()) + (fdEnd - fdStart) +
           static_cast<int64_t>(suffix.size());
  }

  // Reads up to `size` bytes at the position and moves past them: the count read (fewer at the
  // end), or -1 on a read error.
  int64_t Read(void* buffer, uint64_t size) {
    const int64_t total = Size();
    if (pos < 0 || pos >= total) return 0;
    size = std::min<uint64_t>(size, static_cast<uint64_t>(total - pos));
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t done = 0;
    const auto prefixSize = static_cast<int64_t>(prefix.size());
    if (pos < prefixSize) {
      done = std::min<uint64_t>(size, static_cast<uint64_t>(prefixSize - pos));
      std::memcpy(out, prefix.data() + pos, done);
      pos += static_cast<int64_t>(done);
    }
    // The file's part, then the suffix.
    const int64_t fileEnd = prefixSize + (fdEnd - fdStart);
    const uint64_t fromFile =
        done + (pos < fileEnd ? std::min<uint64_t>(size - done, fileEnd - pos) : 0);
    while (done < fromFile) {
      const int64_t at = fdStart + (pos - prefixSize);
      // Decoders read headers and directories a few bytes at a time: those small reads are
      // served from a window of the file read ahead.
      if (fromFile - done < kWindowSize / 4) {
        if (at < windowAt || at >= windowAt + static_cast<int64_t>(window.size())) {
          window.resize(kWindowSize);
          const int64_t n = PreadAll(window.data(), window.size(), at);
          if (n < 0) return -1;
          window.resize(static_cast<std::size_t>(n));
          windowAt = at;
          if (n == 0) break;  // the file became shorter
        }
        const auto from = static_cast<std::size_t>(at - windowAt);
        const uint64_t n = std::min<uint64_t>(fromFile - done, window.size() - from);
        std::memcpy(out + done, window.data() + from, n);
        done += n;
        pos += static_cast<int64_t>(n);
        continue;
      }
      const int64_t n = PreadAll(out + done, fromFile - done, at);
      if (n < 0) return -1;
      done += static_cast<uint64_t>(n);
      pos += n;
      break;  // all that the file holds
    }
    if (done == fromFile && done < size && pos >= fileEnd) {
      const auto from = static_cast<std::size_t>(pos - fileEnd);
      const uint64_t n = std::min<uint64_t>(size - done, suffix.size() - from);
      std::memcpy(out + done, suffix.data() + from, n);
      done += n;
      pos += static_cast<int64_t>(n);
    }
    return static_cast<int64_t>(done);
  }

  static constexpr std::size_t kWindowSize = 64 * 1024;
  std::vector<uint8_t> window;  // the file's bytes from windowAt
  int64_t windowAt = 0;

  // pread until `size` bytes or the end of the file: the count read, -1 on a read error.
  int64_t PreadAll(uint8_t* out, uint64_t size, int64_t at) const {
    uint64_t done = 0;
    while (done < size) {
      const std::size_t chunk = std::min<uint64_t>(size - done, std::size_t{1} << 30);
      const ssize_t n = ::pread(fd, out + done, chunk, at + static_cast<int64_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return -1;
      if (n == 0) break;
      done += static_cast<uint64_t>(n);
    }
    return static_cast<int64_t>(done);
  }

  // False (position unchanged) for a position before the start.
  bool Seek(int64_t offset, int origin) {
    int64_t base = 0;
    if (origin == SEEK_CUR)
      base = pos;
    else if (origin == SEEK_END)
      base = Size();
    else if (origin != SEEK_SET)
      return false;
    int64_t to = 0;
    if (__builtin_add_overflow(base, offset, &to) || to < 0) return false;
    pos = to;
    return true;
  }
};

// The open picture file: its descriptor and its size when the load began. Reads never go
// beyond that size, so a file that grows meanwhile is read as it was.
struct PictureFile {
  int fd = -1;
  int64_t size = 0;
  // Which file it is, and in which state: the device, the inode and the modification time.
  uint64_t device = 0, inode = 0;
  int64_t mtimeNs = 0;
  bool SameAs(const PictureFile& o) const {
    return fd == o.fd && size == o.size && device == o.device && inode == o.inode &&
           mtimeNs == o.mtimeNs;
  }
  FileStream Stream() const {
    FileStream s;
    s.fd = fd;
    s.fdEnd = size;
    return s;
  }
};

// FreeImage's handle interface over a FileStream.
unsigned DLL_CALLCONV StreamRead(void* buffer, unsigned size, unsigned count, fi_handle handle) {
  if (size == 0 || count == 0) return 0;
  const int64_t n = static_cast<FileStream*>(handle)->Read(buffer, uint64_t{size} * count);
  if (n < 0) {
    RecordMessage("the file cannot be read");
    return 0;
  }
  return static_cast<unsigned>(static_cast<uint64_t>(n) / size);
}
unsigned DLL_CALLCONV StreamWrite(void*, unsigned, unsigned, fi_handle) {
  return 0;  // read-only
}
int DLL_CALLCONV StreamSeek(fi_handle handle, long offset, int origin) {
  return static_cast<FileStream*>(handle)->Seek(offset, origin) ? 0 : -1;
}
long DLL_CALLCONV StreamTell(fi_handle handle) {
  return static_cast<long>(static_cast<FileStream*>(handle)->pos);
}
FreeImageIO* StreamIo() {
  static FreeImageIO io{StreamRead, StreamWrite, StreamSeek, StreamTell};
  return &io;
}

// libtiff's client interface over a FileStream.
tmsize_t TiffRead(thandle_t handle, void* buffer, tmsize_t size) {
  if (size <= 0) return 0;
  return static_cast<tmsize_t>(
      static_cast<FileStream*>(handle)->Read(buffer, static_cast<uint64_t>(size)));
}
tmsize_t TiffWrite(thandle_t, void*, tmsize_t) {
  return -1;  // read-only
}
toff_t TiffSeek(thandle_t handle, toff_t offset, int origin) {
  auto* s = static_cast<FileStream*>(handle);
  if (!s->Seek(static_cast<int64_t>(offset), origin)) return static_cast<toff_t>(-1);
  return static_cast<toff_t>(s->pos);
}
int TiffClose(thandle_t) {
  return 0;  // the descriptor stays the caller's
}
toff_t TiffSize(thandle_t handle) {
  return static_cast<toff_t>(static_cast<FileStream*>(handle)->Size());
}
int TiffMap(thandle_t, void**, toff_t*) {
  return 0;  // never mapped: read through the stream only
}
void TiffUnmap(thandle_t, void*, toff_t) {}

bool Fits(uint64_t width, uint64_t height) {
  return DecodedSizeFits(width, height, MaxDecodedBytes());
}

// Marks `r` as refused for its size.
void RefuseSize(FrameResult& r, uint64_t width, uint64_t height) {
  r.tooLarge = true;
  r.declaredWidth = width;
  r.declaredHeight = height;
  r.error = "the picture is too large to decode";
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// How a BMP file is handed to FreeImage: as it is, or with a rewritten header in front of its
// pixel data.
struct BmpPlan {
  uint64_t width = 0, height = 0;
  std::string header;    // empty: the file as it is
  int64_t pixelsAt = 0;  // with a header: where the file's bytes after it begin
  uint64_t bits = 0;     // per pixel
  // The header declares which bits of a pixel are its alpha: without such a mask the fourth
  // byte of a 32-bit pixel is most often just padding, left 0.
  bool alphaMask = false;
};

// Run-length data larger than this many bytes per pixel (plus a little per row) holds more
// than any encoder writes: it is handed over as it is, never read into memory.
constexpr uint64_t kMostRunLengthBytesPerPixel = 2;

// RLE pixel data in memory, closed after its last row (see EndRunLengthDataAtLastRow) and put
// behind `header` (the file's headers up to its pixel data), so that the decoder reads the
// whole file from memory. Nothing changes when the data need no mending or cannot be read.
void MendRunLengthData(const PictureFile& file, std::string header, uint64_t dataOffset,
                       uint64_t imageSize, uint64_t width, uint64_t height, bool fourBitPixels,
                       BmpPlan* plan) {
  const uint64_t size = static_cast<uint64_t>(file.size);
  uint64_t length = imageSize != 0 ? imageSize : size - dataOffset;
  length = std::min(length, size - dataOffset);
  if (length > width * height * kMostRunLengthBytesPerPixel + height * 4 + 1024) return;
  std::string data(static_cast<std::size_t>(length), '\0');
  FileStream s = file.Stream();
  s.pos = static_cast<int64_t>(dataOffset);
  if (s.Read(data.data(), data.size()) != static_cast<int64_t>(data.size())) return;
  if (!EndRunLengthDataAtLastRow(data, static_cast<uint32_t>(height), fourBitPixels)) return;
  const auto newSize = static_cast<uint32_t>(data.size());
  for (int i = 0; i < 4; ++i) header[34 + i] = static_cast<char>(newSize >> (8 * i));
  const auto total = static_cast<uint32_t>(header.size() + data.size());
  for (int i = 0; i < 4; ++i) header[2 + i] = static_cast<char>(total >> (8 * i));
  plan->header = std::move(header) + data;
  plan->pixelsAt = file.size;  // nothing more from the file
}

// Reads a BMP file's headers and checks that the file holds all the pixel data they promise:
// FreeImage reads a short file without complaint and leaves the missing rows as they happened
// to be. Files with the newer (V4, V5) info headers, which this FreeImage refuses as an invalid
// format, get the classic 40-byte header instead: the colour space data those headers add is
// not needed for printing. False with *why when the file cannot be decoded as it is.
bool PlanBmp(const PictureFile& file, BmpPlan* plan, std::string* why) {
  // Headers, colour masks and palette all lie within the first bytes.
  std::vector<uint8_t> head(static_cast<std::size_t>(std::min<int64_t>(file.size, 64 * 1024)));
  FileStream s = file.Stream();
  if (s.Read(head.data(), head.size()) != static_cast<int64_t>(head.size())) {
    *why = "cannot read the file";
    return false;
  }
  const auto size = static_cast<uint64_t>(file.size);
  if (head.size() < 26 || head[0] != 'B' || head[1] != 'M') {
    *why = "not a BMP file";
    return false;
  }
  const uint8_t* h = head.data();
  const uint64_t dataOffset = Le32(&h[10]);
  const uint32_t headerSize = Le32(&h[14]);
  uint64_t width = 0, height = 0, bits = 0, compression = 0, imageSize = 0, colours = 0;
  if (headerSize == 12) {  // OS/2 core header
    width = Le16(&h[18]);
    height = Le16(&h[20]);
    bits = Le16(&h[24]);
  } else if (headerSize >= 40 && head.size() >= 54) {
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
    return false;
  }
  plan->width = width;
  plan->height = height;
  plan->bits = bits;
  // Bit-field files keep the alpha mask after the three colour masks: in the newer headers
  // (56 bytes and more), and behind the classic header when the compression names it.
  plan->alphaMask = (compression == 3 || compression == 6) && head.size() >= 70 &&
                    (headerSize >= 56 || compression == 6) && Le32(&h[66]) != 0;
  if (!Fits(width, height)) return true;  // refused by the caller before anything is read
  // Plain rows (and bit fields) have a known size; compressed data has the size it declares.
  const uint64_t available = size > dataOffset ? size - dataOffset : 0;
  bool complete = false;
  if (compression == 0 || compression == 3 || compression == 6) {
    const uint64_t rowBytes = (width * bits + 31) / 32 * 4;  // below 2^48: no overflow
    complete = dataOffset <= size && (rowBytes == 0 || height <= available / rowBytes);
  } else {
    complete = dataOffset <= size && imageSize <= available;
  }
  if (!complete) {
    *why = "the file is shorter than its pixel data";
    return false;
  }
  const bool runLength = (compression == 1 && bits == 8) || (compression == 2 && bits == 4);
  if (headerSize <= 40 || headerSize + 14 > dataOffset || size < 14 + 52) {
    if (runLength && headerSize >= 40 && dataOffset <= head.size())
      MendRunLengthData(file, std::string(head.begin(), head.begin() + dataOffset), dataOffset,
                        imageSize, width, height, compression == 2, plan);
    return true;
  }

  // The classic layout: file header, 40-byte info header, the three colour masks of bit-field
  // files (which the newer headers keep at the same place), the palette, then the pixels.
  std::string classic(head.begin(), head.begin() + 14 + 40);
  classic[14] = 40, classic[15] = classic[16] = classic[17] = 0;
  if (compression == 3 || compression == 6) {
    classic.append(head.begin() + 54, head.begin() + 66);
    classic[30] = 3, classic[31] = classic[32] = classic[33] = 0;
  }
  if (bits <= 8) {
    const uint64_t entries =
        colours != 0 ? std::min<uint64_t>(colours, 256) : (uint64_t{1} << bits);
    const uint64_t from = 14 + uint64_t{headerSize};
    const uint64_t to = std::min<uint64_t>(from + entries * 4, dataOffset);
    if (to > head.size()) {
      *why = "unknown BMP header";
      return false;
    }
    if (from < to)
      classic.append(head.begin() + static_cast<std::ptrdiff_t>(from),
                     head.begin() + static_cast<std::ptrdiff_t>(to));
  }
  const auto newOffset = static_cast<uint32_t>(classic.size());
  for (int i = 0; i < 4; ++i) classic[10 + i] = static_cast<char>(newOffset >> (8 * i));
  const auto total = static_cast<uint32_t>(classic.size() + (size - dataOffset));
  for (int i = 0; i < 4; ++i) classic[2 + i] = static_cast<char>(total >> (8 * i));
  plan->header = classic;
  plan->pixelsAt = static_cast<int64_t>(dataOffset);
  if (runLength)
    MendRunLengthData(file, std::move(classic), dataOffset, imageSize, width, height,
                      compression == 2, plan);
  return true;
}

// The size of a GIF file's first image as its image descriptor declares it: what FreeImage
// allocates for the first frame. False when the file holds no image before its end.
bool GifFirstImageSize(FileStream s, uint64_t* width, uint64_t* height) {
  uint8_t header[13];
  if (s.Read(header, sizeof header) != sizeof header || std::memcmp(header, "GIF", 3) != 0)
    return false;
  if (header[10] & 0x80) s.pos += int64_t{3} << ((header[10] & 7) + 1);  // global colour table
  for (;;) {
    uint8_t block = 0;
    if (s.Read(&block, 1) != 1) return false;
    if (block == 0x2C) {
      uint8_t d[8];
      if (s.Read(d, sizeof d) != sizeof d) return false;
      *width = Le16(&d[4]);
      *height = Le16(&d[6]);
      return true;
    }
    if (block != 0x21) return false;  // the trailer, or no GIF block at all
    uint8_t label = 0;
    if (s.Read(&label, 1) != 1) return false;
    for (;;) {  // the extension's data sub-blocks, up to the empty one
      uint8_t length = 0;
      if (s.Read(&length, 1) != 1) return false;
      if (length == 0) break;
      s.pos += length;
    }
  }
}

uint8_t OverWhite(uint8_t c, uint8_t a) {
  return static_cast<uint8_t>((c * a + 255 * (255 - a) + 127) / 255);
}

// A 16-bit sample as 8 bits, by its value (65535 is 255).
uint8_t From16(uint16_t v) {
  return static_cast<uint8_t>((v * 255u + 32767u) / 65535u);
}
// A floating-point sample as 8 bits: 0.0 is 0, 1.0 is 255.
uint8_t FromFloat(double v) {
  if (!(v > 0)) return 0;  // NaN too
  return v >= 1 ? 255 : static_cast<uint8_t>(std::lround(v * 255));
}

void AllocatePixels(Bitmap& out, int32_t width, int32_t height) {
  out.jpegFile.reset();  // these pixels come from no JPEG file unless the caller says so
  out.jpegOrientation = kOrientationNormal;
  out.width = width;
  out.height = height;
  out.stride = width * 4;
  out.bgra.clear();
  out.bgra.shrink_to_fit();
  out.bgra.resize(static_cast<std::size_t>(out.stride) * height);
}

// Images of 16 bits or floating point per sample whose values have an absolute meaning
// (grey or colour intensities), copied by value: FreeImage's own conversion stretches them to
// the picture's darkest and lightest sample. False for other types.
bool CopyByValue(FIBITMAP* dib, Bitmap& out) {
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(dib);
  if (type != FIT_UINT16 && type != FIT_RGB16 && type != FIT_RGBA16 && type != FIT_FLOAT &&
      type != FIT_DOUBLE && type != FIT_RGBF && type != FIT_RGBAF)
    return false;
  const auto width = static_cast<int32_t>(FreeImage_GetWidth(dib));
  const auto height = static_cast<int32_t>(FreeImage_GetHeight(dib));
  AllocatePixels(out, width, height);
  for (int32_t y = 0; y < height; ++y) {
    const BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(height - 1 - y));
    uint8_t* d = out.bgra.data() + static_cast<std::size_t>(y) * out.stride;
    for (int32_t x = 0; x < width; ++x, d += 4) {
      uint8_t r = 0, g = 0, b = 0, a = 255;
      switch (type) {
        case FIT_UINT16:
          r = g = b = From16(reinterpret_cast<const uint16_t*>(line)[x]);
          break;
        case FIT_RGB16: {
          const FIRGB16& p = reinterpret_cast<const FIRGB16*>(line)[x];
          r = From16(p.red), g = From16(p.green), b = From16(p.blue);
          break;
        }
        case FIT_RGBA16: {
          const FIRGBA16& p = reinterpret_cast<const FIRGBA16*>(line)[x];
          r = From16(p.red), g = From16(p.green), b = From16(p.blue), a = From16(p.alpha);
          break;
        }
        case FIT_FLOAT:
          r = g = b = FromFloat(reinterpret_cast<const float*>(line)[x]);
          break;
        case FIT_DOUBLE:
          r = g = b = FromFloat(reinterpret_cast<const double*>(line)[x]);
          break;
        case FIT_RGBF: {
          const FIRGBF& p = reinterpret_cast<const FIRGBF*>(line)[x];
          r = FromFloat(p.red), g = FromFloat(p.green), b = FromFloat(p.blue);
          break;
        }
        default: {  // FIT_RGBAF
          const FIRGBAF& p = reinterpret_cast<const FIRGBAF*>(line)[x];
          r = FromFloat(p.red), g = FromFloat(p.green), b = FromFloat(p.blue);
          a = FromFloat(p.alpha);
          break;
        }
      }
      d[0] = OverWhite(b, a);
      d[1] = OverWhite(g, a);
      d[2] = OverWhite(r, a);
      d[3] = 255;
    }
  }
  return true;
}

// Copies a decoded image into `out` as opaque top-down BGRA; with `opaque`, a fourth byte per
// pixel is padding, not alpha. Returns false when it has no pixels FreeImage can convert.
bool CopyToBitmap(FIBITMAP* dib, Bitmap& out, bool opaque) {
  if (CopyByValue(dib, out)) return true;
  FIBITMAP* converted = nullptr;
  FIBITMAP* src = dib;
  if (FreeImage_GetImageType(src) != FIT_BITMAP) {
    // Signed and 32-bit integers, complex numbers: no absolute scale, stretched to 8 bits.
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
  if (bpp != 32) opaque = false;  // converted here: the alpha is FreeImage's own
  AllocatePixels(out, width, height);
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
        const uint8_t a = opaque ? 255 : s[FI_RGBA_ALPHA];
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

constexpr const char* kUnconvertible = "the image's pixel format cannot be converted";

// Decodes `dib` into `out` unless the decoder reported damage; fills the resolution. With
// `opaque`, the fourth byte of 32-bit pixels is not alpha.
bool Take(FIBITMAP* dib, Bitmap& out, FrameResult& r, bool opaque = false) {
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
  if (!CopyToBitmap(dib, out, opaque)) {
    r.error = kUnconvertible;
    return false;
  }
  r.decoded = true;
  return true;
}

// Makes the decoded picture in `out` stand as `orientation` says, its resolution too. False
// (with the frame given up) when there is no memory for it.
bool Orient(Bitmap& out, int32_t orientation, FrameResult& r) {
  if (orientation == kOrientationNormal) return true;
  // The JPEG file a PDF page can carry stays as it is, with the orientation to draw it in.
  auto jpeg = std::move(out.jpegFile);
  if (!ApplyOrientation(out, orientation)) {
    r.decoded = false;
    r.error = "not enough memory for the image";
    out = Bitmap{};
    return false;
  }
  if (SwapsSides(orientation)) std::swap(r.dpiX, r.dpiY);
  if (jpeg) {
    out.jpegFile = std::move(jpeg);
    out.jpegOrientation = orientation;
  }
  return true;
}

// What libtiff's directory says of one page.
struct TiffPage {
  bool read = false;
  uint32_t width = 0, height = 0;
  // FreeImage reports 300 dpi for a page without a resolution, which would size its pictures
  // as if the file had said so: only a stored resolution counts, and only in inches or
  // centimetres (a resolution "without unit" gives proportions, no size).
  bool hasResolution = false;
  int32_t dpiX = 0, dpiY = 0;  // the stored resolution in dots per inch, with hasResolution
  uint16_t orientation = kOrientationNormal;
};

// The multi-page TIFF file whose frames are being loaded, kept open from one frame to the next:
// FreeImage reads every page's directory when it opens such a file, so opening it afresh for
// each frame would cost time in the square of the page count (seconds for 500 tiny pages).
// It is closed after its last frame, on any failure, and when another file comes.
class OpenTiff {
 public:
  ~OpenTiff() { Close(); }

  // The open file for `file` (opened now unless it is open already); false when FreeImage
  // cannot open it as a TIFF file.
  bool Open(const PictureFile& file) {
    if (multi_ && file_.SameAs(file)) return true;
    Close();
    pages_ = std::make_unique<FileStream>(file.Stream());
    multi_ = FreeImage_OpenMultiBitmapFromHandle(FIF_TIFF, StreamIo(), pages_.get(), 0);
    if (!multi_) {
      pages_.reset();
      return false;
    }
    count_ = FreeImage_GetPageCount(multi_);
    file_ = file;
    // The directories are read through a stream of their own: libtiff and FreeImage each
    // keep a position.
    const DecodeWatch saved = tWatch;  // a directory libtiff cannot read is judged by Page()
    directories_ = std::make_unique<FileStream>(file.Stream());
    // "m": never memory-mapped, every byte comes through the stream.
    tiff_ = TIFFClientOpen("picture", "rm", directories_.get(), TiffRead, TiffWrite, TiffSeek,
                           TiffClose, TiffSize, TiffMap, TiffUnmap);
    tWatch = saved;
    return true;
  }

  void Close() {
    // FreeImage reads through the stream until the multi-page bitmap is closed: the streams go
    // after it.
    if (multi_) FreeImage_CloseMultiBitmap(multi_, 0);
    multi_ = nullptr;
    if (tiff_) TIFFClose(tiff_);
    tiff_ = nullptr;
    pages_.reset();
    directories_.reset();
    count_ = 0;
  }

  int Count() const { return count_; }
  FIMULTIBITMAP* Multi() const { return multi_; }

  // The directory of page `frame` (from 1).
  TiffPage Page(int32_t frame) {
    const DecodeWatch saved = tWatch;
    TiffPage page;
    if (tiff_ && TIFFSetDirectory(tiff_, static_cast<tdir_t>(frame - 1))) {
      page.read = TIFFGetField(tiff_, TIFFTAG_IMAGEWIDTH, &page.width) &&
                  TIFFGetField(tiff_, TIFFTAG_IMAGELENGTH, &page.height);
      float x = 0, y = 0;
      uint16_t unit = RESUNIT_INCH;
      TIFFGetFieldDefaulted(tiff_, TIFFTAG_RESOLUTIONUNIT, &unit);
      page.hasResolution = TIFFGetField(tiff_, TIFFTAG_XRESOLUTION, &x) &&
                           TIFFGetField(tiff_, TIFFTAG_YRESOLUTION, &y) && x > 0 && y > 0 &&
                           unit != RESUNIT_NONE;
      if (page.hasResolution) {
        const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        page.dpiX = static_cast<int32_t>(std::lround(std::min(x * perInch, 65535.0)));
        page.dpiY = static_cast<int32_t>(std::lround(std::min(y * perInch, 65535.0)));
      }
      uint16_t orientation = kOrientationNormal;
      if (TIFFGetField(tiff_, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 &&
          orientation <= 8)
        page.orientation = orientation;
    }
    tWatch = saved;
    return page;
  }

  // Decodes page `frame` with libtiff itself, for pages FreeImage cannot decode. Damage libtiff
  // reports is recorded as FreeImage's is.
  bool DecodeWithLibtiff(int32_t frame, Bitmap& out, std::string* why) {
    if (!tiff_ || !TIFFSetDirectory(tiff_, static_cast<tdir_t>(frame - 1))) {
      *why = "the page cannot be read";
      return false;
    }
    return DecodeTiffPage(tiff_, out, why);
  }

 private:
  PictureFile file_;
  std::unique_ptr<FileStream> pages_, directories_;
  FIMULTIBITMAP* multi_ = nullptr;
  TIFF* tiff_ = nullptr;
  int count_ = 0;
};
thread_local OpenTiff tOpenTiff;

FrameResult LoadMultiPage(const PictureFile& file, int32_t frame, Bitmap& out) {
  FrameResult r;
  OpenTiff& tiff = tOpenTiff;
  if (!tiff.Open(file)) {
    r.error = tWatch.damaged ? tWatch.message : "the file cannot be opened as a TIFF file";
    return r;
  }
  const int count = tiff.Count();
  bool hasResolution = false;
  if (count < 1) {
    r.error = "the file holds no image";
  } else if (frame > count || frame < 1) {
    r.frameCount = count;  // nothing to decode
  } else if (const TiffPage page = tiff.Page(frame); !page.read) {
    r.error = "the header of page " + std::to_string(frame) + " cannot be read";
  } else if (!Fits(page.width, page.height)) {
    RefuseSize(r, page.width, page.height);
  } else {
    hasResolution = page.hasResolution;
    FIBITMAP* dib = FreeImage_LockPage(tiff.Multi(), frame - 1);
    if (Take(dib, out, r)) {
      r.frameCount = count;
    } else if (!dib || r.error == kUnconvertible) {
      // FreeImage knows no such page (64-bit samples, say; it says so as it would of damage):
      // libtiff may. Damage libtiff finds fails the page.
      const DecodeWatch freeImageSaid = tWatch;
      tWatch = DecodeWatch{};
      std::string why;
      if (tiff.DecodeWithLibtiff(frame, out, &why) && !tWatch.damaged) {
        r.error.clear();
        r.decoded = true;
        r.frameCount = count;
        r.dpiX = page.dpiX;
        r.dpiY = page.dpiY;
      } else {
        r.error = tWatch.damaged          ? tWatch.message
                  : freeImageSaid.damaged ? freeImageSaid.message
                                          : why;
        out = Bitmap{};
      }
    }
    if (dib) FreeImage_UnlockPage(tiff.Multi(), dib, FALSE);
    if (r.decoded && !Orient(out, page.orientation, r)) r.frameCount = 0;
  }
  if (r.decoded && !hasResolution) r.dpiX = r.dpiY = 0;
  if (tWatch.damaged && r.frameCount > 0 && r.decoded) {
    // Damage reported while the page was released still means the frame was not whole.
    r = FrameResult{};
    r.error = tWatch.message;
  }
  if (!r.decoded || frame >= count) tiff.Close();
  return r;
}

// True when some pixel of a 32-bit image has a fourth byte other than 0: a BMP file without an
// alpha mask whose fourth bytes are all 0 (most programs' 32-bit files) is opaque.
bool AnyAlpha(FIBITMAP* dib) {
  if (!dib || FreeImage_GetBPP(dib) != 32 || FreeImage_GetImageType(dib) != FIT_BITMAP) return true;
  const unsigned width = FreeImage_GetWidth(dib), height = FreeImage_GetHeight(dib);
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x)
      if (line[x * 4 + FI_RGBA_ALPHA] != 0) return true;
  }
  return false;
}

FrameResult LoadBmp(const PictureFile& file, int32_t frame, Bitmap& out) {
  FrameResult r;
  BmpPlan plan;
  if (!PlanBmp(file, &plan, &r.error)) return r;
  if (!Fits(plan.width, plan.height)) {
    RefuseSize(r, plan.width, plan.height);
    return r;
  }
  FileStream stream = file.Stream();
  if (!plan.header.empty()) {
    stream.prefix = plan.header;
    stream.fdStart = plan.pixelsAt;
  }
  FIBITMAP* dib =
      FreeImage_LoadFromHandle(FIF_BMP, StreamIo(), &stream, frame == 1 ? 0 : FIF_LOAD_NOPIXELS);
  if (frame != 1) {
    if (dib && !tWatch.damaged)
      r.frameCount = 1;  // one image per file: nothing to decode
    else
      r.error = tWatch.damaged ? tWatch.message : "the decoder could not read the image";
  } else if (Take(dib, out, r, plan.bits == 32 && !plan.alphaMask && !AnyAlpha(dib))) {
    r.frameCount = 1;
  }
  if (dib) FreeImage_Unload(dib);
  return r;
}

// The image size a JPEG file declares in its frame header (the first SOF marker), as PDF
// readers and cairo take it, and its number of colour components; false when there is none.
bool JpegFrameSize(const std::string& jpeg, int* width, int* height, int* components) {
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
      if (i + 10 > jpeg.size()) return false;
      *height =
          static_cast<unsigned char>(jpeg[i + 5]) << 8 | static_cast<unsigned char>(jpeg[i + 6]);
      *width =
          static_cast<unsigned char>(jpeg[i + 7]) << 8 | static_cast<unsigned char>(jpeg[i + 8]);
      *components = static_cast<unsigned char>(jpeg[i + 9]);
      return true;
    }
    if (marker == 0xDA || marker == 0xD9 || length < 2)
      return false;  // image data before a frame header
    i += 2 + length;
  }
  return false;
}

// The file's bytes for a JPEG page that carries the file itself, read through the descriptor up
// to the size it had when the load began; empty when they cannot be read.
std::shared_ptr<std::string> ReadWholeFile(const PictureFile& file) {
  auto bytes = std::make_shared<std::string>(static_cast<std::size_t>(file.size), '\0');
  FileStream s = file.Stream();
  const int64_t n = s.Read(bytes->data(), bytes->size());
  if (n < 0) return nullptr;
  bytes->resize(static_cast<std::size_t>(n));
  return bytes;
}

// A GIF file whose image data is whole but which lacks the trailer byte that ends every GIF
// file (some programs leave it out; viewers do not mind): its last byte ends a block.
bool LacksGifTrailer(const PictureFile& file) {
  if (file.size < 14) return false;
  FileStream s = file.Stream();
  s.pos = file.size - 1;
  uint8_t last = 0xFF;
  return s.Read(&last, 1) == 1 && last == 0x00;
}
constexpr std::string_view kGifTrailer = ";";

// The orientation a JPEG file's EXIF data gives, or normal.
int32_t ExifOrientation(FIBITMAP* dib) {
  FITAG* tag = nullptr;
  if (!dib || !FreeImage_GetMetadata(FIMD_EXIF_MAIN, dib, "Orientation", &tag) || !tag ||
      FreeImage_GetTagType(tag) != FIDT_SHORT || FreeImage_GetTagCount(tag) < 1 ||
      !FreeImage_GetTagValue(tag))
    return kOrientationNormal;
  const auto value = *static_cast<const uint16_t*>(FreeImage_GetTagValue(tag));
  return value >= 1 && value <= 8 ? value : kOrientationNormal;
}

// The colour profile a CMYK JPEG file carries; empty for other files and CMYK without one.
std::string CmykProfileOf(FIBITMAP* dib) {
  const FIICCPROFILE* profile = dib ? FreeImage_GetICCProfile(dib) : nullptr;
  // The profile's header names its colour space at byte 16.
  if (!profile || !profile->data || profile->size < 20 ||
      std::memcmp(static_cast<const char*>(profile->data) + 16, "CMYK", 4) != 0)
    return {};
  return std::string(static_cast<const char*>(profile->data), profile->size);
}

// Decodes the CMYK JPEG file again, as CMYK, and converts it with its colour profile into
// `out`, which holds the plain conversion of it and keeps it when the profile cannot be used.
void ConvertCmykJpeg(const PictureFile& file, const std::string& profile, Bitmap& out) {
  FileStream stream = file.Stream();
  const DecodeWatch saved = tWatch;
  FIBITMAP* cmyk =
      FreeImage_LoadFromHandle(FIF_JPEG, StreamIo(), &stream, JPEG_ACCURATE | JPEG_CMYK);
  const bool usable = cmyk && !tWatch.damaged && FreeImage_GetBPP(cmyk) == 32 &&
                      FreeImage_GetColorType(cmyk) == FIC_CMYK &&
                      static_cast<int32_t>(FreeImage_GetWidth(cmyk)) == out.width &&
                      static_cast<int32_t>(FreeImage_GetHeight(cmyk)) == out.height;
  tWatch = saved;
  if (usable) {
    const int32_t height = out.height;
    std::string why;
    CmykWithProfile(
        profile.data(), profile.size(), out.width, height,
        [&](int32_t y) -> const uint8_t* {
          return FreeImage_GetScanLine(cmyk, static_cast<int>(height - 1 - y));
        },
        out, &why);
  }
  if (cmyk) FreeImage_Unload(cmyk);
}

FrameResult LoadSingle(Format format, const PictureFile& file, int32_t frame, Bitmap& out,
                       bool pixelsOptional) {
  FrameResult r;
  if (format == Format::kBmp) return LoadBmp(file, frame, out);
  const FREE_IMAGE_FORMAT fif = ToFreeImage(format);
  FileStream stream = file.Stream();
  if (format == Format::kGif && LacksGifTrailer(file)) stream.suffix = kGifTrailer;
  // The declared size first. FreeImage reads GIF files whole even when asked for the header
  // only, so their image descriptor is read here.
  if (format == Format::kGif) {
    uint64_t width = 0, height = 0;
    if (!GifFirstImageSize(file.Stream(), &width, &height)) {
      r.error = "the GIF file holds no image";
      return r;
    }
    if (!Fits(width, height)) {
      RefuseSize(r, width, height);
      return r;
    }
  } else {
    FIBITMAP* header = FreeImage_LoadFromHandle(fif, StreamIo(), &stream, FIF_LOAD_NOPIXELS);
    if (!header) {
      r.error = tWatch.damaged ? tWatch.message : "the decoder could not read the image";
      return r;
    }
    const uint64_t width = FreeImage_GetWidth(header), height = FreeImage_GetHeight(header);
    FreeImage_Unload(header);
    if (!Fits(width, height)) {
      RefuseSize(r, width, height);
      return r;
    }
    // GIF files give their first image whatever frame is asked for; the others have one image,
    // and beyond it there is nothing to decode.
    if (frame != 1) {
      r.frameCount = 1;
      return r;
    }
    stream.pos = 0;
  }
  const int flags = format == Format::kJpeg ? JPEG_ACCURATE : 0;
  FIBITMAP* dib = FreeImage_LoadFromHandle(fif, StreamIo(), &stream, flags);
  // Photos stored turned, with the orientation that shows them upright: their pixels are
  // turned, and a page carrying the file draws it turned.
  const int32_t orientation = format == Format::kJpeg ? ExifOrientation(dib) : kOrientationNormal;
  const bool plainJpeg =
      format == Format::kJpeg && dib &&
      (FreeImage_GetColorType(dib) == FIC_RGB || FreeImage_GetColorType(dib) == FIC_MINISBLACK);
  // FreeImage's CMYK conversion is the plain arithmetic one; a CMYK file's own colour profile
  // gives the colours it was made with.
  const std::string cmykProfile = format == Format::kJpeg ? CmykProfileOf(dib) : std::string();
  // The JPEG file itself, for PDF pages, which can carry it unchanged: when its frame header
  // declares the size the decoder found, the file is exactly the decoded picture. A file far
  // larger than its pixels would be holds something besides the picture: its pixels go instead.
  auto readJpeg = [&](int32_t width, int32_t height) -> std::shared_ptr<const std::string> {
    const uint64_t pixelBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    if (static_cast<uint64_t>(file.size) > pixelBytes + (uint64_t{1} << 20)) return nullptr;
    auto bytes = ReadWholeFile(file);
    int w = 0, h = 0, components = 0;
    // Grey and colour only: a page carrying a CMYK file would print it with the inverted
    // values of Adobe's CMYK as they stand, a negative.
    if (bytes && JpegFrameSize(*bytes, &w, &h, &components) && w == width && h == height &&
        (components == 1 || components == 3))
      return bytes;
    return nullptr;
  };
  if (plainJpeg && pixelsOptional && !tWatch.damaged) {
    // The decode proved the file whole; a page that carries the file needs no pixels.
    const auto width = static_cast<int32_t>(FreeImage_GetWidth(dib));
    const auto height = static_cast<int32_t>(FreeImage_GetHeight(dib));
    if (auto jpeg = readJpeg(width, height)) {
      out = Bitmap{};
      out.width = SwapsSides(orientation) ? height : width;  // as shown
      out.height = SwapsSides(orientation) ? width : height;
      out.jpegFile = std::move(jpeg);
      out.jpegOrientation = orientation;
      r.dpiX = Dpi(FreeImage_GetDotsPerMeterX(dib));
      r.dpiY = Dpi(FreeImage_GetDotsPerMeterY(dib));
      if (SwapsSides(orientation)) std::swap(r.dpiX, r.dpiY);
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
    if (!cmykProfile.empty()) ConvertCmykJpeg(file, cmykProfile, out);
    if (!Orient(out, orientation, r)) r.frameCount = 0;
  }
  return r;
}

}  // namespace

uint64_t MaxDecodedBytes() {
  static const uint64_t limit = [] {
    uint64_t bytes = kMaxPixels * 4;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
      bytes = std::min<uint64_t>(
          bytes, static_cast<uint64_t>(pages) / 2 * static_cast<uint64_t>(pageSize));
    return bytes;
  }();
  return limit;
}

bool DecodedSizeFits(uint64_t width, uint64_t height, uint64_t maxBytes) {
  // width · height · 4 ≤ maxBytes, in divisions that cannot overflow.
  if (width == 0 || height == 0) return true;
  return width <= maxBytes / 4 / height;
}

FrameResult LoadFrame(Format format, int fd, int32_t frame, Bitmap& out, bool pixelsOptional) {
  InitialiseOnce();
  tWatch = DecodeWatch{};
  FrameResult r;
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    r.error = "the file cannot be read";
  } else {
    PictureFile file;
    file.fd = fd;
    file.size = static_cast<int64_t>(st.st_size);
    file.device = st.st_dev;
    file.inode = st.st_ino;
    file.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    try {
      // The decoders see only files that start as their format does. (BMP files are checked by
      // PlanBmp, which reads their headers itself.)
      FileStream probe = file.Stream();
      if (format != Format::kBmp &&
          !FreeImage_ValidateFromHandle(ToFreeImage(format), StreamIo(), &probe)) {
        r.error = "the file does not hold that kind of picture";
      } else {
        r = format == Format::kTiff ? LoadMultiPage(file, frame, out)
                                    : LoadSingle(format, file, frame, out, pixelsOptional);
      }
    } catch (const std::bad_alloc&) {
      r = FrameResult{};
      r.error = "not enough memory for the image";
    }
  }
  if (r.frameCount == 0) {
    out = Bitmap{};
    if (r.error.empty()) r.error = "the file cannot be decoded";
  }
  tWatch = DecodeWatch{};
  return r;
}

FileHandle OpenPictureFile(const std::string& path) {
  // Non-blocking: a FIFO put in the file's place must not hang the open.
  FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat st {};
  if (file.valid() && (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))) file.Close();
  return file;
}

bool WriteTiff(const Bitmap& picture, int32_t dpi, const std::string& path, std::string* error) {
  InitialiseOnce();
  if (!picture.HasPixels() || dpi < 1) {
    if (error) *error = "no picture to write";
    return false;
  }
  // libtiff straight from the picture's rows: no full-size copies, which for a page at 600 dpi
  // would be hundreds of megabytes of memory to fill and fault in.
  // Never over an existing file (libtiff's own open truncates whatever is there), nor through a
  // link put in its place.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    if (error) *error = "the TIFF file could not be created";
    return false;
  }
  TIFF* tif = TIFFFdOpen(fd, path.c_str(), "w");  // closes the descriptor when it is closed
  if (!tif) {
    ::close(fd);
    ::unlink(path.c_str());
    if (error) *error = "the TIFF file could not be created";
    return false;
  }
  const auto width = static_cast<uint32_t>(picture.width);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(picture.height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  // The files live only until the page is printed: the fastest level, which on rendered pages
  // (mostly white) compresses nearly as well as the default.
  TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
  // Strips of about a megabyte: the compressor is set up anew for every strip, which for
  // libtiff's default of 8 kB strips costs more than compressing.
  const uint32_t rowsPerStrip = std::max<uint32_t>(1, (1u << 20) / (width * 3));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(dpi));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(dpi));
  std::vector<uint8_t> row(static_cast<std::size_t>(width) * 3);
  bool ok = true;
  for (int32_t y = 0; y < picture.height && ok; ++y) {
    const uint8_t* src = picture.bgra.data() + static_cast<std::size_t>(y) * picture.stride;
    for (uint32_t x = 0; x < width; ++x) {
      row[x * 3] = src[x * 4 + 2];
      row[x * 3 + 1] = src[x * 4 + 1];
      row[x * 3 + 2] = src[x * 4];
    }
    ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) == 1;
  }
  // The last strip and the directory reach the file only now: a page whose end could not be
  // written is no page (TIFFClose would drop the failure).
  if (ok) ok = TIFFFlush(tif) == 1;
  TIFFClose(tif);
  if (!ok) {
    ::unlink(path.c_str());
    if (error) *error = "the TIFF file could not be written";
  }
  return ok;
}

namespace {
struct DecoderName {
  const char* text;
  Format format;
};
constexpr DecoderName kDecoders[] = {
    {".GIF", Format::kGif},   {".TIF", Format::kTiff}, {".JPG", Format::kJpeg},
    {".JPEG", Format::kJpeg}, {".BMP", Format::kBmp},  {".PNG", Format::kPng},
};
}  // namespace

const Format* DecoderFor(const std::string& path) {
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const DecoderName& d : kDecoders)
    if (upper.find(d.text) != std::string::npos) return &d.format;
  return nullptr;
}

}  // namespace vellumora::pictures
