// Test pictures written with FreeImage, and printed PDFs rendered back to pixels with poppler's
// pdftoppm, so tests can check where things landed on the page.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/clock.h"

namespace vellumora::test {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// One picture (or TIFF page): every pixel has `colour`. `dpi` 0 leaves FreeImage's default
// (72 dpi, which TIFF files store; other formats' resolution is not used).
struct PictureSpec {
  int width = 0;
  int height = 0;
  Rgb colour;
  int dpi = 0;
};

// Writes the picture in the format its extension names (.bmp .gif .jpg .jpeg .png .tif .tiff).
// Several specs make a multi-page TIFF. Fails the test when FreeImage cannot write it.
void WritePicture(const std::filesystem::path& file, const std::vector<PictureSpec>& frames);
inline void WritePicture(const std::filesystem::path& file, const PictureSpec& picture) {
  WritePicture(file, std::vector{picture});
}

// Keeps the first `percent` of the file's bytes, as an interrupted copy would.
void TruncateFile(const std::filesystem::path& file, int percent);

// Files whose headers claim a picture of width × height pixels but which hold only a few bytes
// of it: cheap to make, gigabytes for a decoder that believes the header.
// A PNG (8-bit RGB) with correct chunk checksums and an image data chunk of a few rows.
std::string PngClaiming(uint32_t width, uint32_t height);
// A GIF whose first image descriptor claims the size (the most a GIF can claim is 65535).
std::string GifClaiming(uint16_t width, uint16_t height);
// A 24-bit BMP with the classic 40-byte info header and a few bytes of pixels.
std::string BmpClaiming(int32_t width, int32_t height);
// A TIFF whose first page is `first` (with its pixels) and whose second page claims the size
// (8-bit grey) with one short strip.
void WriteTiffWithClaimingPage(const std::filesystem::path& file, const PictureSpec& first,
                               uint32_t width, uint32_t height);

// A page rendered at some resolution: rows of R, G, B.
struct Raster {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  Rgb At(int x, int y) const;
};

// The clock of the tests' text notes: always 7 March 2026.
LocalTime March7();

// A picture of the engine (BGRA rows) as a raster.
Raster RasterOf(const Bitmap& bitmap);

// Renders every page of a PDF at `dpi` (pdftoppm); empty (and a test failure) when it cannot.
std::vector<Raster> RenderPdf(const std::string& pdfBytes, int dpi);
// The text of one page (pdftotext, layout kept), from 1.
std::string PdfPageText(const std::string& pdfBytes, int page);
// Page sizes in points as pdfinfo reports them.
struct PageSize {
  double width = 0, height = 0;
};
std::vector<PageSize> PdfPageSizes(const std::string& pdfBytes);

// The smallest rectangle holding every pixel `match` accepts, as left, top, right, bottom with
// right and bottom exclusive; all zero when none does.
struct Box {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
};
Box FindPixels(const Raster& page, const std::function<bool(Rgb)>& match);

bool IsRed(Rgb c);
bool IsBlue(Rgb c);
bool IsGreen(Rgb c);
bool IsDark(Rgb c);
bool IsWhite(Rgb c);

}  // namespace vellumora::test
