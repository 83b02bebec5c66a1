// LoadGraphicFrame and LoadWatermark on real picture files: decoder choice by name, frames,
// resolutions, and damaged files that must fail instead of printing half a picture.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "output/outputs-fixture.h"
#include "output/outputs.h"
#include "output/picture-files.h"
#include "platform/files.h"
#include "platform/pictures.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::PictureSpec;
using test::Rgb;

constexpr Rgb kRed{220, 20, 20};
constexpr Rgb kGreen{20, 200, 20};
constexpr Rgb kBlue{20, 20, 220};

class PictureLoadTest : public test::OutputsFixture {
 protected:
  // Loads as the outputs do for a dropped file: through a descriptor opened beforehand.
  int32_t Load(Bitmap& b, const std::string& path, int32_t frame, bool pixelsOptional = false) {
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return outputs->LoadGraphicFrame(b, file.get(), path, frame, pixelsOptional);
  }
};

// The centre pixel of a loaded bitmap as R, G, B.
Rgb Centre(const Bitmap& b) {
  const uint8_t* p =
      b.bgra.data() + static_cast<std::size_t>(b.height / 2) * b.stride + (b.width / 2) * 4;
  return {p[2], p[1], p[0]};
}

TEST_F(PictureLoadTest, EveryFormatLoadsAndOnlyTiffKeepsItsResolution) {
  struct Case {
    const char* name;
    int dpi;
    int expectedDpi;
  };
  const Case cases[] = {
      {"a.jpg", 300, 0}, {"b.JPEG", 300, 0},  {"c.bmp", 300, 0},    {"d.png", 300, 0},
      {"e.gif", 0, 0},   {"f.tif", 300, 300}, {"g.tiff", 150, 150}, {"h.tif", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.dpi == 0 && std::string(c.name) == "h.tif") {
      // A TIFF without resolution tags (FreeImage always writes them): it must not be sized
      // by the 300 dpi FreeImage reports for such files.
      ASSERT_EQ(
          std::system(("convert -size 60x40 xc:'rgb(20,20,220)' +set density -units Undefined '" +
                       Path(c.name) + "'")
                          .c_str()),
          0);
    } else {
      test::WritePicture(Path(c.name), PictureSpec{60, 40, kBlue, c.dpi});
    }
    Bitmap b;
    kernel->imageDpiX = kernel->imageDpiY = -1;
    EXPECT_EQ(Load(b, Path(c.name), 1), 1);
    EXPECT_EQ(b.width, 60);
    EXPECT_EQ(b.height, 40);
    EXPECT_EQ(b.stride, 240);
    EXPECT_TRUE(test::IsBlue(Centre(b)));
    EXPECT_EQ(b.bgra[3], 255);  // opaque
    EXPECT_EQ(kernel->imageDpiX, c.expectedDpi);
    EXPECT_EQ(kernel->imageDpiY, c.expectedDpi);
  }
  EXPECT_TRUE(log.empty());
}

TEST_F(PictureLoadTest, FilesAreReadThroughTheirDescriptorOnly) {
  // Once the file is open, its name is given to another picture: what loads must still be the
  // opened file, and the descriptor's own offset must stay where its owner left it.
  for (const char* name : {"a.jpg", "b.png", "c.bmp", "d.gif", "e.tif"}) {
    SCOPED_TRACE(name);
    const std::string path = Path(name);
    std::vector<PictureSpec> frames{PictureSpec{60, 40, kBlue, 300}};
    if (std::string(name) == "e.tif") frames.push_back(PictureSpec{30, 20, kGreen, 150});
    test::WritePicture(path, frames);
    const std::string original = test::ReadFileBytes(path);
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(file.valid());
    ASSERT_EQ(::lseek(file.get(), 5, SEEK_SET), 5);
    const std::string other = (dir.path() / "other").string() + name;
    test::WritePicture(other, PictureSpec{90, 90, kRed, 72});
    fs::rename(other, path);

    Bitmap b;
    ASSERT_EQ(outputs->LoadGraphicFrame(b, file.get(), path, 1),
              static_cast<int32_t>(frames.size()));
    EXPECT_EQ(b.width, 60);
    EXPECT_EQ(b.height, 40);
    EXPECT_TRUE(test::IsBlue(Centre(b)));
    if (frames.size() == 2) {
      ASSERT_EQ(outputs->LoadGraphicFrame(b, file.get(), path, 2), 2);
      EXPECT_EQ(b.width, 30);
      EXPECT_EQ(kernel->imageDpiX, 150);
    }
    // A JPEG for a printer-only page carries the opened file's bytes.
    Bitmap carried;
    ASSERT_EQ(outputs->LoadGraphicFrame(carried, file.get(), path, 1, true),
              static_cast<int32_t>(frames.size()));
    if (std::string(name) == "a.jpg") {
      ASSERT_TRUE(carried.jpegFile);
      EXPECT_EQ(*carried.jpegFile, original);
    }
    EXPECT_EQ(::lseek(file.get(), 0, SEEK_CUR), 5);
  }
  EXPECT_TRUE(log.empty());
}

// A page bitmap of `width` x `height` pixels in one colour, as a rendered PDF page arrives.
Bitmap PageBitmap(int32_t width, int32_t height, Rgb colour) {
  Bitmap b;
  b.width = width;
  b.height = height;
  b.stride = width * 4;
  b.bgra.resize(static_cast<std::size_t>(b.stride) * height);
  for (std::size_t i = 0; i < b.bgra.size(); i += 4) {
    b.bgra[i] = colour.b;
    b.bgra[i + 1] = colour.g;
    b.bgra[i + 2] = colour.r;
    b.bgra[i + 3] = 255;
  }
  return b;
}

TEST_F(PictureLoadTest, AWrittenPageLoadsBackWithItsResolution) {
  const std::string path = Path("page.tif");
  std::string error;
  ASSERT_TRUE(pictures::WriteTiff(PageBitmap(80, 50, kGreen), 300, path, &error)) << error;
  Bitmap b;
  ASSERT_EQ(Load(b, path, 1), 1);
  EXPECT_EQ(b.width, 80);
  EXPECT_EQ(b.height, 50);
  EXPECT_TRUE(test::IsGreen(Centre(b)));
  EXPECT_EQ(kernel->imageDpiX, 300);
  EXPECT_TRUE(log.empty());
}

TEST_F(PictureLoadTest, APageThatDoesNotReachTheDiskWholeIsNotReportedWritten) {
  // A small page's strip and directory are written only as the file is closed: a disk that
  // takes the first bytes and no more must fail the page, not leave a cut file that fails
  // later as a damaged picture.
  const std::string path = Path("page.tif");
  bool written = true;
  std::string error;
  {
    test::FileSizeLimit limit(64);
    written = pictures::WriteTiff(PageBitmap(80, 50, kGreen), 300, path, &error);
  }
  EXPECT_FALSE(written);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(path)) << "the cut file stays behind";
}

TEST_F(PictureLoadTest, WritingAPageNeverReplacesAFileAlreadyThere) {
  const std::string path = Path("page.tif");
  test::WriteFileBytes(path, "someone else's file");
  std::string error;
  EXPECT_FALSE(pictures::WriteTiff(PageBitmap(80, 50, kGreen), 300, path, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(test::ReadFileBytes(path), "someone else's file");
}

TEST_F(PictureLoadTest, MultiPageTiffGivesEachFrameAndItsCount) {
  test::WritePicture(Path("three.tif"),
                     {PictureSpec{30, 20, kRed, 300}, PictureSpec{40, 30, kGreen, 200},
                      PictureSpec{50, 40, kBlue, 100}});
  const Rgb colours[] = {kRed, kGreen, kBlue};
  for (int frame = 1; frame <= 3; ++frame) {
    SCOPED_TRACE(frame);
    Bitmap b;
    EXPECT_EQ(Load(b, Path("three.tif"), frame), 3);
    EXPECT_EQ(b.width, 20 + 10 * frame);
    const Rgb c = Centre(b);
    EXPECT_NEAR(c.r, colours[frame - 1].r, 2);
    EXPECT_NEAR(c.g, colours[frame - 1].g, 2);
    EXPECT_EQ(kernel->imageDpiX, 400 - 100 * frame);
  }
  // Beyond the last frame: the count, and nothing decoded.
  Bitmap untouched;
  EXPECT_EQ(Load(untouched, Path("three.tif"), 4), 3);
  EXPECT_TRUE(untouched.Empty());
}

TEST_F(PictureLoadTest, TiffFilesLoadedInTurnKeepTheirOwnFrames) {
  // A TIFF file stays open from one frame to the next: interleaved files, and another file
  // that gets the descriptor number of a closed one, must still give their own frames.
  test::WritePicture(Path("a.tif"), {PictureSpec{10, 10, kRed, 0}, PictureSpec{11, 10, kRed, 0},
                                     PictureSpec{12, 10, kRed, 0}});
  test::WritePicture(Path("b.tif"), {PictureSpec{20, 10, kBlue, 0}, PictureSpec{21, 10, kBlue, 0}});
  FileHandle a(::open(Path("a.tif").c_str(), O_RDONLY | O_CLOEXEC));
  FileHandle b(::open(Path("b.tif").c_str(), O_RDONLY | O_CLOEXEC));
  Bitmap bitmap;
  auto width = [&](const FileHandle& file, const char* name, int32_t frame) {
    EXPECT_GT(outputs->LoadGraphicFrame(bitmap, file.get(), Path(name), frame), 0);
    return bitmap.width;
  };
  EXPECT_EQ(width(a, "a.tif", 1), 10);
  EXPECT_EQ(width(b, "b.tif", 1), 20);
  EXPECT_EQ(width(a, "a.tif", 2), 11);
  EXPECT_EQ(width(a, "a.tif", 1), 10);  // backwards
  const int number = a.get();
  a.Close();
  test::WritePicture(Path("c.tif"),
                     {PictureSpec{30, 10, kGreen, 0}, PictureSpec{31, 10, kGreen, 0}});
  FileHandle c(::open(Path("c.tif").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(c.get(), number);
  EXPECT_EQ(width(c, "c.tif", 2), 31);
  EXPECT_TRUE(test::IsGreen(Centre(bitmap)));
  EXPECT_EQ(width(b, "b.tif", 2), 21);
  EXPECT_TRUE(log.empty());
}

TEST_F(PictureLoadTest, DecoderFollowsTheFirstTypeNamedAnywhereInThePath) {
  fs::create_directories(dir.path() / "scans.tif.d");
  test::WritePicture(dir.path() / "scans.tif.d" / "photo.jpg", PictureSpec{10, 10, kRed, 0});
  test::WritePicture(Path("photo.jpg.png"), PictureSpec{10, 10, kRed, 0});
  test::WritePicture(Path("noext.png"), PictureSpec{10, 10, kRed, 0});
  fs::rename(Path("noext.png"), Path("noext"));

  Bitmap b;
  // ".TIF" comes before ".JPG" in the search: the TIFF decoder refuses the JPEG data.
  const std::string inTifFolder = (dir.path() / "scans.tif.d" / "photo.jpg").string();
  EXPECT_EQ(Load(b, inTifFolder, 1), 0);
  EXPECT_TRUE(Logged("ERROR Corrupted graphic file " + inTifFolder));
  // ".JPG" comes before ".PNG": a PNG named so is not decoded.
  EXPECT_EQ(Load(b, Path("photo.jpg.png"), 1), 0);
  // No picture type in the name at all.
  EXPECT_EQ(Load(b, Path("noext"), 1), 0);
  EXPECT_TRUE(Logged("ERROR Corrupted graphic file " + Path("noext")));
}

TEST_F(PictureLoadTest, GifGivesItsFirstImage) {
  test::WritePicture(Path("a.gif"), PictureSpec{24, 16, kGreen, 0});
  Bitmap b;
  EXPECT_EQ(Load(b, Path("a.gif"), 1), 1);
  EXPECT_EQ(b.width, 24);
  EXPECT_TRUE(test::IsGreen(Centre(b)));
}

TEST_F(PictureLoadTest, BmpWithANewerInfoHeaderLoads) {
  // ImageMagick writes the 124-byte header that this FreeImage refuses on its own; a palette
  // BMP checks that the palette is carried over.
  ASSERT_EQ(std::system(
                ("convert -size 40x30 xc:'rgb(220,20,20)' -type TrueColor '" + Path("v5.bmp") + "'")
                    .c_str()),
            0);
  ASSERT_EQ(std::system(("convert -size 40x30 xc:'rgb(20,20,220)' -type Palette '" +
                         Path("v5pal.bmp") + "'")
                            .c_str()),
            0);
  Bitmap b;
  EXPECT_EQ(Load(b, Path("v5.bmp"), 1), 1);
  EXPECT_EQ(b.width, 40);
  EXPECT_TRUE(test::IsRed(Centre(b)));
  EXPECT_EQ(Load(b, Path("v5pal.bmp"), 1), 1);
  EXPECT_TRUE(test::IsBlue(Centre(b)));
}

TEST_F(PictureLoadTest, DamagedFilesFailWithTheErrorLineAndAnEmptyBitmap) {
  struct Case {
    const char* name;
    int keepPercent;
  };
  // A truncated JPEG decodes to a full-size picture with a grey rest and a BMP without any
  // message: both must fail all the same.
  const Case cases[] = {{"cut.jpg", 60}, {"cut.bmp", 60},  {"cut.png", 50}, {"cut.gif", 50},
                        {"cut.tif", 60}, {"empty.jpg", 0}, {"tiny.bmp", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WritePicture(Path(c.name), PictureSpec{200, 150, kRed, 300});
    test::TruncateFile(Path(c.name), c.keepPercent);
    Bitmap b;
    b.width = b.height = 1;  // a leftover must not survive a failed load
    log.clear();
    EXPECT_EQ(Load(b, Path(c.name), 1), 0);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(log, std::vector<std::string>{"ERROR Corrupted graphic file " + Path(c.name)});
    // Also when only the size and the file are asked for: the whole file is still decoded.
    EXPECT_EQ(Load(b, Path(c.name), 1, true), 0);
    EXPECT_TRUE(b.Empty());
  }
  Bitmap b;
  EXPECT_EQ(outputs->LoadGraphicFrame(b, Path("missing.jpg"), 1), 0);
}

TEST_F(PictureLoadTest, CutSamplesFailOnEveryDecodingPath) {
  // The libtiff path (64-bit samples), the mended run-length data, turned and CMYK JPEG files
  // with their second decode: damage fails them as it fails the others.
  const fs::path samples = fs::path(VELLUMORA_TEST_DATA) / "pictures";
  struct Case {
    const char* name;
    int keepPercent;
  };
  for (const Case& c : {Case{"float64.tif", 60}, Case{"rle8.bmp", 90},
                        Case{"orientation-6.jpg", 60}, Case{"cmyk-profile.jpg", 95}}) {
    SCOPED_TRACE(c.name);
    fs::copy_file(samples / c.name, Path(c.name));
    Bitmap b;
    ASSERT_EQ(Load(b, Path(c.name), 1), 1);
    test::TruncateFile(Path(c.name), c.keepPercent);
    log.clear();
    EXPECT_EQ(Load(b, Path(c.name), 1), 0);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(log, std::vector<std::string>{"ERROR Corrupted graphic file " + Path(c.name)});
  }
}

TEST_F(PictureLoadTest, CmykJpegFilesNeverGoOntoAPageAsTheyAreTurnedOnesWithTheirOrientation) {
  // A page carrying a CMYK file would print Adobe's inverted values as a negative: its pixels
  // go instead. A photo stored sideways is carried with the orientation that stands it up.
  const fs::path samples = fs::path(VELLUMORA_TEST_DATA) / "pictures";
  for (const char* name : {"cmyk-ycck.jpg", "cmyk-profile.jpg"}) {
    SCOPED_TRACE(name);
    Bitmap b;
    ASSERT_EQ(Load(b, (samples / name).string(), 1, true), 1);
    EXPECT_TRUE(b.HasPixels());
    EXPECT_FALSE(b.jpegFile);
  }
  Bitmap b;
  ASSERT_EQ(Load(b, (samples / "orientation-6.jpg").string(), 1, true), 1);
  EXPECT_FALSE(b.HasPixels());
  ASSERT_TRUE(b.jpegFile);
  EXPECT_EQ(b.jpegOrientation, 6);
  EXPECT_EQ(b.width, 60);  // as shown
  EXPECT_EQ(b.height, 40);
}

// What a child process made of one picture: the frame count, the log lines, its peak memory.
struct ChildLoad {
  int32_t count = -1;
  std::vector<std::string> log;
  long peakKiB = 0;
  double seconds = 0;
};

TEST(DecodedSize, FitsExactlyAndWithoutOverflow) {
  constexpr uint64_t kLimit = pictures::kMaxPixels * 4;
  struct Case {
    uint64_t width, height, maxBytes;
    bool fits;
  };
  const Case cases[] = {
      {30000, 20000, kLimit, true},                           // 600 megapixels exactly
      {30000, 20001, kLimit, false},                          // one row more
      {uint64_t{1} << 31, uint64_t{1} << 31, kLimit, false},  // 4 · w · h wraps to 0 in 64 bits
      {UINT64_MAX, 1, UINT64_MAX, false},
      {0, UINT64_MAX, kLimit, true},     // no pixels at all
      {10000, 10000, 256 << 20, false},  // 400 MB against a machine's half of 512 MB
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    EXPECT_EQ(pictures::DecodedSizeFits(c.width, c.height, c.maxBytes), c.fits);
  }
  EXPECT_LE(pictures::MaxDecodedBytes(), kLimit);
}

TEST_F(PictureLoadTest, PicturesTooLargeToDecodeAreRefusedFromTheirHeader) {
  // A few bytes claiming gigabytes of pixels. The load runs in a child process so that its
  // peak memory can be measured: the header alone must decide.
  std::string jpeg;
  {
    test::WritePicture(Path("small.jpg"), PictureSpec{16, 16, kRed, 0});
    jpeg = test::ReadFileBytes(Path("small.jpg"));
    const std::size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = jpeg[sof + 7] = static_cast<char>(60000 >> 8);
    jpeg[sof + 6] = jpeg[sof + 8] = static_cast<char>(60000 & 0xFF);
  }
  test::WriteTiffWithClaimingPage(Path("pages.tif"), PictureSpec{30, 20, kGreen, 0}, 70000, 70000);
  struct Case {
    const char* name;
    std::string bytes;  // empty: already written
    int32_t frame;
    const char* size;
  };
  const Case cases[] = {
      {"huge.png", test::PngClaiming(60000, 60000), 1, "60000 x 60000"},
      {"huge.jpg", jpeg, 1, "60000 x 60000"},
      {"huge.gif", test::GifClaiming(65535, 65535), 1, "65535 x 65535"},
      {"huge.bmp", test::BmpClaiming(40000, -40000), 1, "40000 x 40000"},
      {"wrap.bmp", test::BmpClaiming(INT32_MIN, INT32_MIN), 1, "2147483648 x 2147483648"},
      {"pages.tif", {}, 2, "70000 x 70000"},
  };
  // Loads in a child process: its frame count, log lines, peak memory and time.
  auto loadInChild = [&](const std::string& path, int32_t frame) {
    ChildLoad result;
    int out[2];
    if (::pipe(out) != 0) {
      ADD_FAILURE() << "no pipe";
      return result;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(out[0]);
      log.clear();
      Bitmap b;
      std::string report = std::to_string(Load(b, path, frame)) + "\n";
      for (const std::string& line : log) report += line + "\n";
      ::_exit(WriteAll(out[1], report.data(), report.size()) ? 0 : 1);
    }
    ::close(out[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      ADD_FAILURE() << "the child failed, status " << status;
      return result;
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakKiB = usage.ru_maxrss;
    std::istringstream lines(report);
    std::string line;
    if (std::getline(lines, line)) result.count = std::stoi(line);
    while (std::getline(lines, line)) result.log.push_back(line);
    return result;
  };
  // What loading a small picture costs the same way.
  const ChildLoad baseline = loadInChild(Path("small.jpg"), 1);
  ASSERT_EQ(baseline.count, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Path(c.name);
    if (!c.bytes.empty()) test::WriteFileBytes(path, c.bytes);
    const ChildLoad result = loadInChild(path, c.frame);
    EXPECT_EQ(result.count, 0);
    EXPECT_EQ(result.log, std::vector<std::string>{"ERROR Picture too large to print: " + path +
                                                   " (" + c.size + " pixels)"});
    EXPECT_LT(result.peakKiB - baseline.peakKiB, 100 * 1024);
    EXPECT_LT(result.seconds, 5.0);
  }
  // The TIFF's first page is within the limit and loads.
  Bitmap b;
  EXPECT_EQ(Load(b, Path("pages.tif"), 1), 2);
  EXPECT_EQ(b.width, 30);
  EXPECT_TRUE(test::IsGreen(Centre(b)));
}

TEST_F(PictureLoadTest, JpegForAPrinterOnlyPageCarriesTheFileInsteadOfPixels) {
  test::WritePicture(Path("photo.jpg"), PictureSpec{320, 200, kGreen, 0});
  Bitmap b;
  ASSERT_EQ(Load(b, Path("photo.jpg"), 1, true), 1);
  EXPECT_EQ(b.width, 320);
  EXPECT_EQ(b.height, 200);
  EXPECT_FALSE(b.HasPixels());
  ASSERT_TRUE(b.jpegFile);
  EXPECT_EQ(*b.jpegFile, test::ReadFileBytes(Path("photo.jpg")));

  // With pixels asked for (a preview), both; other types never carry a file.
  ASSERT_EQ(Load(b, Path("photo.jpg"), 1), 1);
  EXPECT_TRUE(b.HasPixels());
  EXPECT_TRUE(b.jpegFile);
  test::WritePicture(Path("photo.png"), PictureSpec{320, 200, kGreen, 0});
  ASSERT_EQ(Load(b, Path("photo.png"), 1, true), 1);
  EXPECT_TRUE(b.HasPixels());
  EXPECT_FALSE(b.jpegFile);
}

TEST_F(PictureLoadTest, LoadWatermarkTakesTheFirstFileInItsOrder) {
  auto load = [&] {
    log.clear();
    outputs->LoadWatermark();
    return log;
  };
  EXPECT_EQ(load(), std::vector<std::string>{"Watermark / No file found"});
  EXPECT_TRUE(watermark.Empty());

  test::WritePicture(fs::path(kernel->dataDir) / "Watermark.jpeg", PictureSpec{40, 10, kBlue, 0});
  test::WritePicture(fs::path(kernel->dataDir) / "Watermark.gif", PictureSpec{30, 10, kBlue, 0});
  EXPECT_EQ(load(), std::vector<std::string>{"Watermark / Background bitmap graphics loaded"});
  EXPECT_EQ(watermark.Width(), 30);  // .gif before .jpeg

  // A damaged file first in the order: its error, then no watermark at all.
  test::WritePicture(fs::path(kernel->dataDir) / "Watermark.bmp", PictureSpec{20, 10, kBlue, 0});
  test::TruncateFile(fs::path(kernel->dataDir) / "Watermark.bmp", 50);
  const std::string bmp = kernel->dataDir + "Watermark.bmp";
  EXPECT_EQ(load(), (std::vector<std::string>{"ERROR Corrupted graphic file " + bmp,
                                              "Watermark / No file found"}));
  EXPECT_TRUE(watermark.Empty());
}

}  // namespace
}  // namespace vellumora
