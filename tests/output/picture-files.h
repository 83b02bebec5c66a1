// Test pictures written with FreeImage, and printed PDFs rendered back to pixels with poppler's
// pdftoppm, so tests can check where things landed on the page.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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

// A page rendered at some resolution: rows of R, G, B.
struct Raster {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  Rgb At(int x, int y) const;
};

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
