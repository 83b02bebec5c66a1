// PDF printing through the private CUPS scheduler: direct jobs with their options, pages
// through bitmaps, the worker thread, and files that cannot be printed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/text-fields.h"
#include "output/outputs-fixture.h"
#include "output/picture-files.h"
#include "support/cups-sandbox.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::CupsSandbox;

// A PDF of `pages` A4 pages, page p holding a red square whose size grows with p, and the
// given viewer preferences (for example "/PrintScaling /None /Duplex /DuplexFlipLongEdge").
std::string MakePdf(int pages, const std::string& viewerPreferences = {}) {
  std::vector<std::string> objects;
  std::string kids;
  objects.push_back("<< /Type /Catalog /Pages 2 0 R" +
                    (viewerPreferences.empty()
                         ? std::string()
                         : " /ViewerPreferences << " + viewerPreferences + " >>") +
                    " >>");
  for (int p = 0; p < pages; ++p) kids += std::to_string(3 + 2 * p) + " 0 R ";
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
  for (int p = 0; p < pages; ++p) {
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents " +
                      std::to_string(4 + 2 * p) + " 0 R >>");
    const std::string content = "1 0 0 rg 72 " + std::to_string(600 - 50 * p) + " " +
                                std::to_string(100 + 50 * p) + " " + std::to_string(100 + 50 * p) +
                                " re f";
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "\nendstream");
  }
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t off : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

class PdfPrintTest : public test::OutputsFixture {
 protected:
  static constexpr const char* kQueue = CupsSandbox::kRawQueue;

  void SetUp() override {
    stopRequested = 0;
    kernel->sleepMs = [](int32_t) {};
    outputs->InitPdfModules();
    ASSERT_TRUE(outputs->SelectPrinter(kQueue));
    PrintChannel& c = kernel->currentChannel;
    c = EmptyChannel();
    WriteField(c.printerName, kQueue);
    c.copies = 1;
    c.dpiX = c.dpiY = 300;
    c.paperSize = 9;  // A4
    c.stretch = 1;
    c.geometry = kernel->printerGeometry;
    c.geometry.borderRect = c.geometry.paperRect;
  }
  void TearDown() override { stopRequested = 0; }

  OutputReport Print(const std::string& name, const std::string& bytes, int32_t copies,
                     bool ownThread = false) {
    test::WriteFileBytes(Path(name), bytes);
    OutputJob job = Job(Path(name), kQueue, copies);
    job.ownThread = ownThread;
    return outputs->PrintPdfFile(job);
  }

  // What the printer was asked for: the job's options as CUPS passed them to the backend.
  static bool HasOption(const test::CapturedJob& job, const std::string& option) {
    const std::string options = " " + job.Info("options") + " ";
    return options.find(" " + option + " ") != std::string::npos;
  }

  bool TempFolderEmpty() const {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(kernel->dataDir + "Temp", ec)) {
      (void)e;
      return false;
    }
    return true;
  }

  CupsSandbox& cups = CupsSandbox::Get();
};

TEST_F(PdfPrintTest, DirectCopiesAreTheFileItselfWithFitAndThePaper) {
  const std::string pdf = MakePdf(2);
  const OutputReport report = Print("a.pdf", pdf, 2);
  ASSERT_EQ(report.result, OutputResult::kPrinted) << report.message;
  auto jobs = cups.WaitForJobs(kQueue, 2);
  ASSERT_EQ(jobs.size(), 2u);
  for (const auto& job : jobs) {
    EXPECT_EQ(job.data, pdf);
    EXPECT_EQ(job.Info("title"), "Vellumora a.pdf");
    EXPECT_TRUE(HasOption(job, "print-scaling=fit")) << job.Info("options");
    EXPECT_TRUE(HasOption(job, "media=iso_a4_210x297mm")) << job.Info("options");
  }
  EXPECT_EQ(created.size(), 2u);
  EXPECT_TRUE(Logged("PDF module1 successfully initialized"));
  EXPECT_TRUE(Logged("PDF module2 successfully initialized"));
}

TEST_F(PdfPrintTest, ScalingAndDuplexFollowTheChannelOrTheDocument) {
  struct Case {
    const char* what;
    bool noFit, useDocDefaults;
    std::string preferences;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"no fit", true, false, "", {"print-scaling=none"}},
      {"document says none", false, true, "/PrintScaling /None", {"print-scaling=none"}},
      {"document preferences ignored", false, false, "/PrintScaling /None", {"print-scaling=fit"}},
      {"simplex", false, true, "/Duplex /Simplex", {"print-scaling=fit", "sides=one-sided"}},
      {"short edge", false, true, "/Duplex /DuplexFlipShortEdge", {"sides=two-sided-short-edge"}},
      {"long edge", false, true, "/Duplex /DuplexFlipLongEdge", {"sides=two-sided-long-edge"}},
  };
  // The Splash renderer (NoWindowsGDI) changes nothing here: it only renders.
  kernel->settings.NoWindowsGDI = true;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(cups.Reset());
    kernel->currentChannel.pdfNoFit = c.noFit;
    kernel->currentChannel.pdfUseDocDefaults = c.useDocDefaults;
    ASSERT_EQ(Print("p.pdf", MakePdf(1, c.preferences), 1).result, OutputResult::kPrinted);
    auto jobs = cups.WaitForJobs(kQueue, 1);
    ASSERT_EQ(jobs.size(), 1u);
    for (const std::string& option : c.options)
      EXPECT_TRUE(HasOption(jobs[0], option)) << option << " in " << jobs[0].Info("options");
  }
}

TEST_F(PdfPrintTest, ARefusedCopyEndsTheCopiesWithALineNamingTheFile) {
  test::WriteFileBytes(Path("a.pdf"), MakePdf(1));
  OutputJob job = Job(Path("a.pdf"), kQueue, 3);
  int jobsCreated = 0;
  job.jobCreated = [&](const std::string&, int32_t, int32_t) {
    // Once the first copy exists, the queue refuses new jobs.
    if (++jobsCreated == 1) {
      EXPECT_EQ(std::system("cupsreject capture"), 0);
    }
    return true;
  };
  const OutputReport report = outputs->PrintPdfFile(job);
  std::system("cupsaccept capture");
  EXPECT_EQ(report.result, OutputResult::kRetry);
  EXPECT_EQ(report.message.rfind("ERROR PDF-printout of a.pdf failed", 0), 0u) << report.message;
  EXPECT_EQ(jobsCreated, 1);
  EXPECT_EQ(cups.WaitForJobs(kQueue, 1).size(), 1u);
}

TEST_F(PdfPrintTest, FilesThatCannotBeLoadedStay) {
  for (const std::string& bytes :
       {std::string("%PDF-1.4 nothing else"), std::string("GIF89a"), MakePdf(1).substr(0, 60)}) {
    const OutputReport report = Print("bad.pdf", bytes, 1);
    EXPECT_EQ(report.result, OutputResult::kRetry);
    EXPECT_EQ(report.message, "ERROR PDF-file couldn't be loaded");
  }
  // A sparse file that claims gigabytes is never read into memory, whichever renderer the
  // channel uses.
  kernel->settings.NoWindowsGDI = true;
  kernel->currentChannel.pdfThroughBitmap = 1;
  test::WriteFileBytes(Path("huge.pdf"), MakePdf(1));
  fs::resize_file(Path("huge.pdf"), 64ULL << 30);
  EXPECT_EQ(outputs->PrintPdfFile(Job(Path("huge.pdf"), kQueue, 1)).result, OutputResult::kRetry);
  kernel->settings.NoWindowsGDI = false;
  kernel->currentChannel.pdfThroughBitmap = 0;

  // A document that needs a password fails like an unreadable one.
  test::WriteFileBytes(Path("plain.pdf"), MakePdf(1));
  const std::string encrypt =
      "qpdf --encrypt secret owner 256 -- " + Path("plain.pdf") + " " + Path("locked.pdf");
  ASSERT_EQ(std::system(encrypt.c_str()), 0);
  OutputReport locked = outputs->PrintPdfFile(Job(Path("locked.pdf"), kQueue, 1));
  EXPECT_EQ(locked.message, "ERROR PDF-file couldn't be loaded");
  EXPECT_TRUE(cups.CapturedJobs(kQueue).empty());
  // poppler's complaints about the damaged files reach the log only in debug mode.
  for (const std::string& line : log) EXPECT_NE(line.rfind("DEBUG-INFO", 0), 0u) << line;

  // Without a working module 1 no PDF job starts at all.
  Outputs fresh(*kernel, watermark);
  test::WriteFileBytes(Path("good.pdf"), MakePdf(1));
  EXPECT_EQ(fresh.PrintPdfFile(Job(Path("good.pdf"), kQueue, 1)).message,
            "ERROR PDF-file couldn't be loaded");
}

TEST_F(PdfPrintTest, PagesThroughBitmapsPrintEachCopyAsADocumentAndLeaveNoFiles) {
  kernel->currentChannel.pdfThroughBitmap = 1;
  WriteField(kernel->currentChannel.headerText, "Page <P> of <A>");
  kernel->currentChannel.notePosition = 'A';
  const std::string pdf = MakePdf(3);
  for (bool ownThread : {false, true}) {
    SCOPED_TRACE(ownThread ? "worker thread" : "scan thread");
    ASSERT_TRUE(cups.Reset());
    int pumps = 0;
    kernel->pumpMessages = [&] { ++pumps; };
    const OutputReport report = Print("three.pdf", pdf, 2, ownThread);
    // The log tells a page that failed to render from one that failed to load back.
    ASSERT_EQ(report.result, OutputResult::kPrinted)
        << report.message << "\n" << ::testing::PrintToString(log);
    auto jobs = cups.WaitForJobs(kQueue, 2);
    ASSERT_EQ(jobs.size(), 2u);
    for (const auto& job : jobs) {
      EXPECT_EQ(job.Info("title"), "Vellumora: three.pdf");
      ASSERT_EQ(test::PdfPageSizes(job.data).size(), 3u);
      // Page 3 of the original has the largest square; the note counts the pages.
      const auto pages = test::RenderPdf(job.data, 20);
      ASSERT_EQ(pages.size(), 3u);
      const auto small = test::FindPixels(pages[0], test::IsRed);
      const auto large = test::FindPixels(pages[2], test::IsRed);
      EXPECT_GT(large.right - large.left, small.right - small.left);
      EXPECT_NE(test::PdfPageText(job.data, 3).find("Page 3 of 3"), std::string::npos);
    }
    EXPECT_TRUE(TempFolderEmpty());
    EXPECT_EQ(pumps > 0, ownThread) << "the scan thread keeps its windows alive while it waits";
    EXPECT_EQ(pdfThreadRunning.load(), 0);
  }
}

TEST_F(PdfPrintTest, RenderedPagesMatchAnotherRenderer) {
  // The same document through bitmaps (with either renderer) and through pdftoppm: same pages,
  // squares in the same places.
  for (bool splash : {false, true}) {
    SCOPED_TRACE(splash ? "Splash" : "cairo");
    ASSERT_TRUE(cups.Reset());
    kernel->settings.NoWindowsGDI = splash;
    kernel->currentChannel.pdfThroughBitmap = 1;
    kernel->currentChannel.autoDetect = 0;
    kernel->currentChannel.stretch = 0;  // natural size: one printer dot per rendered pixel
    const std::string pdf = MakePdf(2);
    ASSERT_EQ(Print("two.pdf", pdf, 1).result, OutputResult::kPrinted);
    auto jobs = cups.WaitForJobs(kQueue, 1);
    ASSERT_EQ(jobs.size(), 1u);
    const auto ours = test::RenderPdf(jobs[0].data, 30);
    const auto theirs = test::RenderPdf(pdf, 30);
    ASSERT_EQ(ours.size(), theirs.size());
    for (std::size_t p = 0; p < ours.size(); ++p) {
      const auto a = test::FindPixels(ours[p], test::IsRed);
      const auto b = test::FindPixels(theirs[p], test::IsRed);
      EXPECT_NEAR(a.right - a.left, b.right - b.left, 3) << "page " << p + 1;
      EXPECT_NEAR(a.top, b.top, 3) << "page " << p + 1;
    }
  }
}

TEST_F(PdfPrintTest, PagesThatWouldNotFitTheDiskEndTheJobInsteadOfFillingIt) {
  // A temporary folder with 2 MB of room; a page at 300 dpi needs far more uncompressed.
  const std::string temp = kernel->dataDir + "Temp";
  const std::string mount = "mount -t tmpfs -o size=2m vellumora-test " + temp + " 2>/dev/null";
  if (std::system(mount.c_str()) != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
  kernel->currentChannel.pdfThroughBitmap = 1;
  const OutputReport report = Print("big.pdf", MakePdf(2), 1);
  std::system(("umount " + temp).c_str());
  EXPECT_EQ(report.result, OutputResult::kRetry);
  EXPECT_EQ(report.message.rfind("ERROR Not enough room in " + temp, 0), 0u) << report.message;
  EXPECT_NE(report.message.find("for the pages of big.pdf"), std::string::npos);
  EXPECT_TRUE(created.empty());
}

TEST_F(PdfPrintTest, APendingStopBeginsNothing) {
  stopRequested = 1;
  EXPECT_EQ(Print("a.pdf", MakePdf(1), 1).result, OutputResult::kStopped);
  stopRequested = 0;
  EXPECT_TRUE(created.empty());
}

TEST_F(PdfPrintTest, DroppedPdfGoesThroughTheDispatcher) {
  kernel->output = outputs.get();
  const fs::path in = dir.path() / "in";
  fs::create_directory(in);
  PrintChannel c = kernel->currentChannel;
  WriteField(c.sourceFolder, in.string());
  c.active = 1;
  c.freq = 1;
  kernel->channels = {c, EmptyChannel()};
  kernel->channelCount = 1;
  test::WriteFileBytes(in / "invoice.pdf", MakePdf(1));
  kernel->ScanChannel(0, false);
  EXPECT_FALSE(fs::exists(in / "invoice.pdf"));
  EXPECT_EQ(cups.WaitForJobs(kQueue, 1).size(), 1u);
  EXPECT_TRUE(Logged("File was successfully sent to printer "));
}

TEST_F(PdfPrintTest, AChannelThatNeverLearntItsPrintersPagePrintsRenderedPagesAtTheirSize) {
  // A record as a script writes it: no resolution, no paper. Rendered pages carry 300 dpi;
  // without the printer's resolution they would be drawn at no size at all.
  kernel->output = outputs.get();
  const fs::path in = dir.path() / "in";
  fs::create_directory(in);
  PrintChannel c = EmptyChannel();
  WriteField(c.sourceFolder, in.string());
  WriteField(c.printerName, kQueue);
  c.copies = 1;
  c.active = 1;
  c.freq = 1;
  c.pdfThroughBitmap = 1;
  kernel->channels = {c, EmptyChannel()};
  kernel->channelCount = 1;
  test::WriteFileBytes(in / "page.pdf", MakePdf(1));
  kernel->ScanChannel(0, false);
  auto jobs = cups.WaitForJobs(kQueue, 1);
  ASSERT_EQ(jobs.size(), 1u) << ::testing::PrintToString(log);
  const auto pages = test::RenderPdf(jobs[0].data, 20);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_FALSE(test::FindPixels(pages[0], test::IsRed).Empty());
}

}  // namespace
}  // namespace vellumora
