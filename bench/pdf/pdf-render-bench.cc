// Renders every page of a PDF into TIFF files exactly as a through-bitmaps job does, timed per
// run; reports the peak resident memory and the temporary disk the page files took.
//   usage: pdf_render_bench PDF DPI RUNS WORK_FOLDER [splash]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "output/pdf-render.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  using namespace vellumora;
  if (argc < 5) {
    std::fprintf(stderr, "usage: pdf_render_bench PDF DPI RUNS WORK_FOLDER [splash]\n");
    return 2;
  }
  const int dpi = std::atoi(argv[2]), runs = std::atoi(argv[3]);
  const std::string work = argv[4];
  const pdf::Renderer renderer =
      argc > 5 && std::string(argv[5]) == "splash" ? pdf::Renderer::kSplash : pdf::Renderer::kCairo;
  FileHandle file(::open(argv[1], O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return 1;
  uintmax_t diskBytes = 0;
  for (int run = 1; run <= runs; ++run) {
    const std::string folder = MakePrivateFolder(work, nullptr);
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    auto doc = pdf::Document::Open(file.get(), renderer, &error);
    if (!doc) {
      std::fprintf(stderr, "cannot open: %s\n", error.c_str());
      return 1;
    }
    PdfRenderJob job;
    job.fd = file.get();
    job.folder = folder;
    job.dpi = dpi;
    job.renderer = renderer;
    const PdfRenderResult result = RenderPdfPages(job, *doc, doc->PageCount());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result != PdfRenderResult::kDone) {
      std::fprintf(stderr, "rendering failed\n");
      return 1;
    }
    diskBytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      diskBytes += entry.file_size();
    std::printf("run %d: %.3f s\n", run, seconds);
    std::filesystem::remove_all(folder);
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("pages on disk: %ju bytes\n", diskBytes);
  std::printf("peak RSS: %ld KiB\n", usage.ru_maxrss);
  return 0;
}
