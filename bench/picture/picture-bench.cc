// Printing from the drop into a channel's folder until the print server accepted the job: the
// channel's scan (ScanChannel), and for a picture decoding, layout on A4 and the PDF job
// submission; a PDF file is printed directly; a text file is typeset in Arial 10 points on A4
// with 10 mm margins. The picture, PDF and text benchmarks all use it.
//
//   picture_bench PHOTO PRINTER RUNS
//
// Copies PHOTO into the channel's folder RUNS times; each run is timed from the moment the
// copy is complete until ScanChannel returns with the job accepted by PRINTER (CUPS_SERVER
// names the server). Prints one line per run and then the peak resident memory of the process.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/outputs.h"

namespace fs = std::filesystem;
using namespace vellumora;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: picture_bench PHOTO PRINTER RUNS\n");
    return 2;
  }
  const fs::path photo = fs::absolute(argv[1]);
  const std::string printer = argv[2];
  const int runs = std::max(1, std::atoi(argv[3]));

  char pattern[] = "/tmp/vellumora-bench.XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path work = pattern;
  setenv("VELLUMORA_COMMON_APPDATA", work.c_str(), 1);
  const fs::path drop = work / "drop";
  fs::create_directories(drop);

  C_Kernel kernel(work.string());
  kernel.logCallback = [](const std::string& text, bool) {
    std::fprintf(stderr, "log: %s\n", text.c_str());
  };
  WatermarkBitmap watermark;
  Outputs outputs(kernel, watermark);
  kernel.output = &outputs;
  outputs.InitPdfModules();  // a PDF file prints too (directly: the channel's default)
  // The scan takes text files only when files other than pictures and PDFs are allowed.
  kernel.settings.NoRawFilePrinting = false;

  PageGeometry geometry;
  if (!outputs.ReadPrinterMetrics(printer, geometry)) return 1;
  geometry.borderRect = geometry.paperRect;
  PrintChannel channel = EmptyChannel();
  WriteField(channel.sourceFolder, drop.string());
  WriteField(channel.printerName, printer);
  WriteField(channel.headerText, "Vellumora file <N> page <P>");
  WriteField(channel.fontName, "Arial");
  channel.fontSize = 10;
  channel.widthMM = 210;
  channel.heightMM = 297;
  channel.marginMM = 10;
  channel.notePosition = 'F';
  channel.copies = 1;
  channel.freq = 1;
  channel.active = 1;
  channel.stretch = 1;  // scaled to the page, keeping the aspect ratio
  channel.center = 1;
  channel.dpiX = geometry.dpiX;
  channel.dpiY = geometry.dpiY;
  channel.geometry = geometry;
  kernel.channels = {channel, EmptyChannel()};
  kernel.channelCount = 1;
  std::fprintf(stderr, "page: %d x %d dots at %d x %d dpi\n", geometry.paperRect.right,
               geometry.paperRect.bottom, geometry.dpiX, geometry.dpiY);

  int failures = 0;
  for (int run = 1; run <= runs; ++run) {
    const fs::path dropped =
        drop / ("photo-" + std::to_string(run) + photo.extension().string());
    fs::copy_file(photo, dropped);
    const auto start = std::chrono::steady_clock::now();
    kernel.ScanChannel(0, false);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = !kernel.jobFailed && !fs::exists(dropped);
    if (!ok) ++failures;
    std::printf("run %d: %.3f s%s\n", run, seconds, ok ? "" : " FAILED");
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak RSS: %ld KiB\n", usage.ru_maxrss);
  std::error_code ec;
  fs::remove_all(work, ec);
  return failures == 0 ? 0 : 1;
}
