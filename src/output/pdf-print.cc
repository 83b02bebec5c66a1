// PDF files on the printer: handed to the print server as they are (direct printing), or
// rendered page by page into pictures that print with the channel's layout, note and
// watermark. Either way on the scan thread or on a worker thread of its own.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "output/job-data.h"
#include "output/outputs.h"
#include "output/pdf-render.h"
#include "platform/file-disposal.h"
#include "platform/files.h"
#include "platform/pdf.h"
#include "platform/pictures.h"
#include "platform/printers.h"

namespace vellumora {

std::atomic<uint8_t> pdfThreadRunning{0};
std::atomic<int32_t> pdfPageCount{0};

namespace {

constexpr char kPdfFormat[] = "application/pdf";
constexpr int kDeleteAttempts = 100;
constexpr int32_t kDeleteRetryMs = 1000;
constexpr int32_t kThreadWaitMs = 100;

}  // namespace

// One PDF job's library work: loading, then printing directly or rendering the pages. Runs on
// the scan thread, or as the body of a worker thread while the scan thread waits.
class THREAD_PDF {
 public:
  std::string errorText;  // empty while all is well; otherwise the job's error line
  std::string printerName;
  std::string jobTitle = "Document";
  std::string pdfPath;
  std::string fileName;
  std::string renderPath;  // the folder for the page files; empty: print directly
  int32_t copies = 1;
  int32_t pageCount = 0;
  int32_t printOptions = 0;
  uint8_t noFit = 1;
  uint8_t highRes = 0;
  uint8_t useDocDefaults = 0;
  uint8_t noWindowsGDI = 0;

  // What the job reads and reports through, from the dispatcher.
  const OutputJob* job = nullptr;
  std::string media;       // the paper for direct printing
  int32_t copiesSent = 0;  // direct printing: copies the print server holds
  bool stopped = false;    // a stop came before the first copy or page
  bool debug = false;      // DebugMode: why a file could not be loaded goes to the log

  void Execute();

 private:
  void Run();
  void PrintDirect(pdf::Document& doc);
  void RenderPages(pdf::Document& first);
};

void THREAD_PDF::Execute() {
  pdfThreadRunning = 1;
  errorText.clear();
  // Nothing a hostile document makes the libraries throw may end the process.
  try {
    Run();
  } catch (const std::exception&) {
    errorText = "ERROR PDF-file couldn't be loaded";
  }
  pdfThreadRunning = 0;
}

void THREAD_PDF::Run() {
  // The renderer matters only for rendering; direct printing needs the viewer preferences,
  // which only the cairo module reads.
  const pdf::Renderer renderer =
      noWindowsGDI && !renderPath.empty() ? pdf::Renderer::kSplash : pdf::Renderer::kCairo;
  std::string why;
  std::unique_ptr<pdf::Document> doc =
      job->fd >= 0 ? pdf::Document::Open(job->fd, renderer, &why) : nullptr;
  if (!doc || doc->PageCount() < 1) {
    errorText = "ERROR PDF-file couldn't be loaded";
    if (debug && !why.empty()) job->Log("DEBUG-INFO " + ReadableText(why));
  } else if (job->StopAsked()) {
    stopped = true;
  } else if (renderPath.empty()) {
    pageCount = doc->PageCount();
    PrintDirect(*doc);
  } else {
    pageCount = doc->PageCount();
    pdfPageCount = pageCount;
    RenderPages(*doc);
  }
}

void THREAD_PDF::PrintDirect(pdf::Document& doc) {
  // The print server's PDF filter scales to the paper (or not), centres and turns the pages.
  bool scale = noFit == 0;
  printers::JobOptions options;
  std::string sides;
  if (useDocDefaults) {
    if (doc.PrintScalingNone()) scale = false;
    switch (doc.DuplexPreference()) {
      case pdf::Duplex::kSimplex:
        sides = "one-sided";
        break;
      case pdf::Duplex::kFlipShortEdge:
        sides = "two-sided-short-edge";
        break;
      case pdf::Duplex::kFlipLongEdge:
        sides = "two-sided-long-edge";
        break;
      case pdf::Duplex::kNone:
        break;
    }
  }
  options.emplace_back("print-scaling", scale ? "fit" : "none");
  // Without a paper of its own the filter would take the document's, or Letter.
  if (!media.empty()) options.emplace_back("media", media);
  if (!sides.empty()) options.emplace_back("sides", sides);

  std::vector<uint8_t> buffer(64 * 1024);
  for (int32_t copy = 0; copy < copies; ++copy) {
    if (job->StopAsked()) {
      stopped = copiesSent == 0;
      return;
    }
    std::string error;
    bool ok = false;
    if (auto stream = printers::StreamJob::Start(
            printerName, jobTitle, fileName, kPdfFormat, 1,
            [&](int32_t id) { return job->JobCreated(printerName, id, 1); }, &error, options)) {
      ok = SendFileData(*stream, job->fd, buffer, &error) && stream->Finish(&error);
      if (!ok) stream->Cancel();
      if (ok) job->JobConfirmed(printerName, stream->JobId());
    }
    if (!ok) {
      errorText = "ERROR PDF-printout of " + fileName + " failed";
      if (!error.empty()) errorText += ": " + ReadableText(error);
      return;
    }
    ++copiesSent;
  }
}

void THREAD_PDF::RenderPages(pdf::Document& first) {
  PdfRenderJob render;
  render.fd = job->fd;
  render.folder = renderPath;
  render.dpi = highRes ? 600 : 300;
  render.renderer = noWindowsGDI ? pdf::Renderer::kSplash : pdf::Renderer::kCairo;
  render.stopAsked = [this] { return job->StopAsked(); };
  switch (RenderPdfPages(render, first, pageCount)) {
    case PdfRenderResult::kDone:
      break;
    case PdfRenderResult::kNoRoom:
      errorText = "ERROR Not enough room in " + renderPath + " for the pages of " + fileName;
      break;
    case PdfRenderResult::kFailed:
      errorText = "ERROR PDF-rendering of " + fileName + " failed";
      break;
    case PdfRenderResult::kStopped:
      stopped = true;
      break;
  }
}

void Outputs::InitPdfModules() {
  pdf::SetMessageSink([this](const std::string& message) {
    if (kernel_.settings.DebugMode) kernel_.Log("DEBUG-INFO PDF: " + ReadableText(message));
  });
  pdfModule1Ready_ = pdf::CairoModuleWorks();
  kernel_.Log(pdfModule1Ready_ ? "PDF module1 successfully initialized"
                               : "ERROR PDF module1 couldn't be initialized");
  if (pdfModule1Ready_) {
    pdfModule2Ready_ = pdf::SplashModuleWorks();
    kernel_.Log(pdfModule2Ready_ ? "PDF module2 successfully initialized"
                                 : "ERROR PDF module2 (pdfhandler2.bin) couldn't be initialized");
  }
}

OutputReport Outputs::PrintPdfFile(const OutputJob& job) {
  C_Kernel& k = kernel_;
  // A stop already pending: nothing begins, and the file stays.
  if (job.StopAsked()) return {OutputResult::kStopped, {}};
  if (!pdfModule1Ready_) return {OutputResult::kRetry, "ERROR PDF-file couldn't be loaded"};

  const PrintChannel& c = *job.channel;
  THREAD_PDF work;
  work.job = &job;
  work.printerName = job.printerName;
  work.pdfPath = job.path;
  work.fileName = job.name;
  work.copies = std::max(job.copies, 1);
  work.noFit = c.pdfNoFit;
  work.useDocDefaults = c.pdfUseDocDefaults;
  work.highRes = c.pdfHighRes;
  work.jobTitle = "Vellumora " + job.name;
  work.noWindowsGDI = k.settings.NoWindowsGDI && pdfModule2Ready_ ? 1 : 0;
  work.debug = k.settings.DebugMode;
  work.media = printers::MediaForPaperCode(c.paperSize);
  if (work.media.empty()) work.media = printers::DefaultMediaName(job.printerName);
  pdfPageCount = 0;
  if (c.pdfThroughBitmap) {
    std::string error;
    work.renderPath = MakePrivateFolder(k.dataDir + "Temp", &error);
    if (work.renderPath.empty())
      return {OutputResult::kRetry,
              "ERROR PDF-rendering of " + job.name + " failed: " + ReadableText(error)};
  }

  if (job.ownThread) {
    // The worker does the library's part while this thread keeps its windows alive. The flag
    // is set before the thread starts, so the wait cannot end before the work began.
    pdfThreadRunning = 1;
    std::thread worker;
    try {
      worker = std::thread([&work] { work.Execute(); });
    } catch (...) {
      pdfThreadRunning = 0;
      RemoveEmptyFolder(work.renderPath);
      return {OutputResult::kRetry, "ERROR PDF-Thread couldn't be launched"};
    }
    while (pdfThreadRunning.load() != 0) k.WaitPumping(kThreadWaitMs);
    worker.join();
  } else {
    work.Execute();
  }

  OutputReport report;
  if (!work.errorText.empty()) {
    report = {OutputResult::kRetry, work.errorText};
  } else if (work.stopped) {
    report = {OutputResult::kStopped, {}};
  } else if (work.renderPath.empty()) {
    // Direct: a stop after some copies leaves the rest to the next run, which the ledger tells
    // which copies the server already holds.
    report = work.copiesSent < work.copies ? OutputReport{OutputResult::kStopped, {}}
                                           : OutputReport{OutputResult::kPrinted, {}};
  } else {
    report = PrintRenderedPages(job, work.renderPath, work.pageCount, work.copies);
  }
  if (!work.renderPath.empty()) RemovePageFiles(work.renderPath, work.pageCount);
  return report;
}

OutputReport Outputs::PrintRenderedPages(const OutputJob& job, const std::string& folder,
                                         int32_t pages, int32_t copies) {
  // Each copy is a document of its own: page 1 begins it, the last page ends it.
  int32_t copiesPrinted = 0;
  OutputReport report;
  for (int32_t copy = 0; copy < copies && report.result == OutputResult::kPrinted; ++copy) {
    for (int32_t page = 1; page <= pages; ++page) {
      FileHandle file = pictures::OpenPictureFile(PdfPageFile(folder, page));
      OutputJob pageJob = job;
      pageJob.fd = file.get();
      pageJob.path = PdfPageFile(folder, page);
      pageJob.copies = 1;
      report = PrintBitmapPages(pageJob, pages, page);
      if (report.result != OutputResult::kPrinted) break;
    }
    if (report.result == OutputResult::kPrinted) ++copiesPrinted;
  }
  // Whatever ended the job early, no page of it stays open for the next file's job.
  if (printer().Printing()) printer().Abort();
  switch (report.result) {
    case OutputResult::kPrinted:
      return report;
    case OutputResult::kSkipped:
      // The operator skipped a later copy: the earlier ones went out, the file is done.
      return copiesPrinted > 0 ? OutputReport{} : report;
    case OutputResult::kRejected:
      return {OutputResult::kRetry, "ERROR PDF-rendering of " + job.name + " failed"};
    default:
      return report;
  }
}

void Outputs::RemovePageFiles(const std::string& folder, int32_t pages) {
  for (int32_t page = 1; page <= pages; ++page) {
    const std::string path = PdfPageFile(folder, page);
    for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
      if (RemoveFile(path)) break;
      if (stopRequested.load() != 0) break;
      kernel_.Log("Retrying to delete file ...");
      kernel_.WaitPumping(kDeleteRetryMs);
    }
  }
  RemoveEmptyFolder(folder);
}

}  // namespace vellumora
