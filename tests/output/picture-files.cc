// Test pictures through FreeImage; printed PDFs back to pixels and text through poppler-utils.
#include "output/picture-files.h"

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/sandbox-dir.h"

namespace vellumora::test {

namespace fs = std::filesystem;

namespace {

FREE_IMAGE_FORMAT FormatOf(const fs::path& file) {
  std::string ext = file.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".bmp") return FIF_BMP;
  if (ext == ".gif") return FIF_GIF;
  if (ext == ".jpg" || ext == ".jpeg") return FIF_JPEG;
  if (ext == ".png") return FIF_PNG;
  if (ext == ".tif" || ext == ".tiff") return FIF_TIFF;
  return FIF_UNKNOWN;
}

FIBITMAP* Make(const PictureSpec& picture, FREE_IMAGE_FORMAT format) {
  FIBITMAP* dib = FreeImage_Allocate(picture.width, picture.height, 24);
  for (int y = 0; y < picture.height; ++y) {
    BYTE* line = FreeImage_GetScanLine(dib, y);
    for (int x = 0; x < picture.width; ++x) {
      line[x * 3 + FI_RGBA_RED] = picture.colour.r;
      line[x * 3 + FI_RGBA_GREEN] = picture.colour.g;
      line[x * 3 + FI_RGBA_BLUE] = picture.colour.b;
    }
  }
  if (picture.dpi > 0) {
    const auto dpm = static_cast<unsigned>(picture.dpi / 0.0254 + 0.5);
    FreeImage_SetDotsPerMeterX(dib, dpm);
    FreeImage_SetDotsPerMeterY(dib, dpm);
  }
  if (format == FIF_GIF) {
    FIBITMAP* palette = FreeImage_ColorQuantize(dib, FIQ_WUQUANT);
    FreeImage_Unload(dib);
    dib = palette;
  }
  return dib;
}

// Runs a shell command; fails the test when it does not exit 0.
bool Run(const std::string& command) {
  const int rc = std::system(command.c_str());
  if (rc != 0) ADD_FAILURE() << "`" << command << "` exited with " << rc;
  return rc == 0;
}

std::string Quote(const fs::path& p) {
  return "'" + p.string() + "'";
}

// A folder for poppler's files, with the PDF in it.
struct PdfScratch {
  SandboxDir dir;
  fs::path pdf;
  explicit PdfScratch(const std::string& bytes) : pdf(dir.path() / "job.pdf") {
    WriteFileBytes(pdf, bytes);
  }
};

}  // namespace

void WritePicture(const fs::path& file, const std::vector<PictureSpec>& frames) {
  // FreeImage's metadata writer makes libtiff complain about tags it does not know.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  const FREE_IMAGE_FORMAT format = FormatOf(file);
  ASSERT_NE(format, FIF_UNKNOWN) << file;
  ASSERT_FALSE(frames.empty());
  if (frames.size() == 1) {
    FIBITMAP* dib = Make(frames[0], format);
    const int flags = format == FIF_JPEG ? JPEG_QUALITYSUPERB : 0;
    EXPECT_TRUE(FreeImage_Save(format, dib, file.c_str(), flags)) << file;
    FreeImage_Unload(dib);
    return;
  }
  ASSERT_EQ(format, FIF_TIFF) << "only TIFF files have several pages";
  FIMULTIBITMAP* multi = FreeImage_OpenMultiBitmap(FIF_TIFF, file.c_str(), TRUE, FALSE, FALSE, 0);
  ASSERT_NE(multi, nullptr) << file;
  for (const PictureSpec& picture : frames) {
    FIBITMAP* dib = Make(picture, format);
    FreeImage_AppendPage(multi, dib);
    FreeImage_Unload(dib);
  }
  EXPECT_TRUE(FreeImage_CloseMultiBitmap(multi, 0)) << file;
}

void TruncateFile(const fs::path& file, int percent) {
  std::string bytes = ReadFileBytes(file);
  bytes.resize(bytes.size() * static_cast<std::size_t>(percent) / 100);
  WriteFileBytes(file, bytes);
}

namespace {

void PutBe32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(v >> shift);
}
void PutLe16(std::string& out, uint32_t v) {
  out += static_cast<char>(v);
  out += static_cast<char>(v >> 8);
}
void PutLe32(std::string& out, uint32_t v) {
  PutLe16(out, v);
  PutLe16(out, v >> 16);
}

void PngChunk(std::string& out, const char* type, const std::string& data) {
  PutBe32(out, static_cast<uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  out += typed;
  PutBe32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()),
                                           static_cast<uInt>(typed.size()))));
}

}  // namespace

std::string PngClaiming(uint32_t width, uint32_t height) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  PngChunk(png, "IHDR", ihdr);
  // Two rows' worth of zero bytes, compressed: the rest of the picture is missing.
  const std::string rows(2 * (1 + std::size_t{3} * std::min<uint32_t>(width, 1000)), '\0');
  std::string idat(compressBound(static_cast<uLong>(rows.size())), '\0');
  uLongf length = static_cast<uLongf>(idat.size());
  EXPECT_EQ(compress(reinterpret_cast<Bytef*>(idat.data()), &length,
                     reinterpret_cast<const Bytef*>(rows.data()), static_cast<uLong>(rows.size())),
            Z_OK);
  idat.resize(length);
  PngChunk(png, "IDAT", idat);
  PngChunk(png, "IEND", "");
  return png;
}

std::string GifClaiming(uint16_t width, uint16_t height) {
  std::string gif = "GIF89a";
  PutLe16(gif, width);
  PutLe16(gif, height);
  gif += std::string("\x80\x00\x00", 3);              // a global colour table of two entries
  gif += std::string("\x00\x00\x00\xff\xff\xff", 6);  // black, white
  gif += '\x2c';                                      // image descriptor
  PutLe16(gif, 0);
  PutLe16(gif, 0);
  PutLe16(gif, width);
  PutLe16(gif, height);
  gif += '\0';
  gif += std::string("\x02\x01\x2c\x00", 4);  // LZW code size 2: a clear code, the end code
  gif += '\x3b';
  return gif;
}

std::string BmpClaiming(int32_t width, int32_t height) {
  std::string bmp = "BM";
  PutLe32(bmp, 54 + 16);  // the file's size
  PutLe32(bmp, 0);
  PutLe32(bmp, 54);  // pixel data offset
  PutLe32(bmp, 40);
  PutLe32(bmp, static_cast<uint32_t>(width));
  PutLe32(bmp, static_cast<uint32_t>(height));
  PutLe16(bmp, 1);                              // planes
  PutLe16(bmp, 24);                             // bits per pixel
  for (int i = 0; i < 6; ++i) PutLe32(bmp, 0);  // no compression, sizes, resolutions, colours
  bmp += std::string(16, '\x7f');
  return bmp;
}

void WriteTiffWithClaimingPage(const fs::path& file, const PictureSpec& first, uint32_t width,
                               uint32_t height) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* tiff = TIFFOpen(file.c_str(), "w");
  ASSERT_NE(tiff, nullptr) << file;
  auto page = [&](uint32_t w, uint32_t h, uint16_t samples) {
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, h);
  };
  page(static_cast<uint32_t>(first.width), static_cast<uint32_t>(first.height), 3);
  std::string pixels;
  for (int i = 0; i < first.width * first.height; ++i)
    pixels += {static_cast<char>(first.colour.r), static_cast<char>(first.colour.g),
               static_cast<char>(first.colour.b)};
  EXPECT_EQ(TIFFWriteRawStrip(tiff, 0, pixels.data(), static_cast<tmsize_t>(pixels.size())),
            static_cast<tmsize_t>(pixels.size()));
  EXPECT_TRUE(TIFFWriteDirectory(tiff));
  page(width, height, 1);
  std::string strip(64, '\x40');
  EXPECT_EQ(TIFFWriteRawStrip(tiff, 0, strip.data(), static_cast<tmsize_t>(strip.size())),
            static_cast<tmsize_t>(strip.size()));
  EXPECT_TRUE(TIFFWriteDirectory(tiff));
  TIFFClose(tiff);
}

LocalTime March7() {
  LocalTime t;
  t.year = 2026, t.month = 3, t.day = 7;
  return t;
}

Raster RasterOf(const Bitmap& b) {
  Raster r;
  r.width = b.width;
  r.height = b.height;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x) {
      const uint8_t* p = b.bgra.data() + static_cast<std::size_t>(y) * b.stride + x * 4;
      r.rgb.insert(r.rgb.end(), {p[2], p[1], p[0]});
    }
  return r;
}

Rgb Raster::At(int x, int y) const {
  const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 3;
  return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

std::vector<Raster> RenderPdf(const std::string& pdfBytes, int dpi) {
  PdfScratch s(pdfBytes);
  std::vector<Raster> pages;
  if (!Run("pdftoppm -r " + std::to_string(dpi) + " " + Quote(s.pdf) + " " +
           Quote(s.dir.path() / "page")))
    return pages;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(s.dir.path()))
    if (entry.path().extension() == ".ppm") files.push_back(entry.path());
  // page-1.ppm ... or page-01.ppm ...: the same width for all, so names sort in page order.
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    Raster r;
    in >> magic >> r.width >> r.height >> maxValue;
    in.get();
    EXPECT_EQ(magic, "P6");
    r.rgb.resize(static_cast<std::size_t>(r.width) * r.height * 3);
    in.read(reinterpret_cast<char*>(r.rgb.data()), static_cast<std::streamsize>(r.rgb.size()));
    pages.push_back(std::move(r));
  }
  return pages;
}

std::string PdfPageText(const std::string& pdfBytes, int page) {
  PdfScratch s(pdfBytes);
  const std::string n = std::to_string(page);
  if (!Run("pdftotext -layout -f " + n + " -l " + n + " " + Quote(s.pdf) + " " +
           Quote(s.dir.path() / "page.txt")))
    return {};
  return ReadFileBytes(s.dir.path() / "page.txt");
}

std::vector<PageSize> PdfPageSizes(const std::string& pdfBytes) {
  PdfScratch s(pdfBytes);
  std::vector<PageSize> sizes;
  if (!Run("pdfinfo -f 1 -l 1000 " + Quote(s.pdf) + " > " + Quote(s.dir.path() / "info.txt")))
    return sizes;
  std::istringstream info(ReadFileBytes(s.dir.path() / "info.txt"));
  std::string line;
  while (std::getline(info, line)) {
    // "Page    1 size: 595.276 x 841.89 pts (A4)"
    int page = 0;
    PageSize size;
    if (std::sscanf(line.c_str(), "Page %d size: %lf x %lf", &page, &size.width, &size.height) == 3)
      sizes.push_back(size);
  }
  return sizes;
}

Box FindPixels(const Raster& page, const std::function<bool(Rgb)>& match) {
  Box box{page.width, page.height, 0, 0};
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x)
      if (match(page.At(x, y))) {
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
        box.right = std::max(box.right, x + 1);
        box.bottom = std::max(box.bottom, y + 1);
      }
  return box.Empty() ? Box{} : box;
}

bool IsRed(Rgb c) {
  return c.r > 180 && c.g < 90 && c.b < 90;
}
bool IsBlue(Rgb c) {
  return c.b > 180 && c.r < 90 && c.g < 90;
}
bool IsGreen(Rgb c) {
  return c.g > 150 && c.r < 90 && c.b < 90;
}
bool IsDark(Rgb c) {
  return c.r < 60 && c.g < 60 && c.b < 60;
}
bool IsWhite(Rgb c) {
  return c.r > 240 && c.g > 240 && c.b > 240;
}

}  // namespace vellumora::test
