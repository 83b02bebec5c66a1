// PrintTextFile through the private CUPS scheduler: each job is read back from the raw
// "capture" queue (A4, 300 dpi) and its text and pixels checked with poppler's tools.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/capture-queue-fixture.h"
#include "output/outputs.h"
#include "output/picture-files.h"
#include "platform/cairo/cairo-canvas.h"
#include "support/cups-sandbox.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;
using test::Box;
using test::CupsSandbox;
using test::Raster;
using test::Rgb;

constexpr int32_t kMargin = 118;  // 10 mm at 300 dpi

using test::March7;

bool IsBlack(Rgb c) {
  return c.r < 60 && c.g < 60 && c.b < 60;
}
bool IsGrey(Rgb c) {
  return c.r > 90 && c.r < 200 && c.g > 90 && c.g < 200 && c.b > 90 && c.b < 200;
}

// The lines of a page as pdftotext lays them out, without trailing blanks and empty lines.
std::vector<std::string> TextLines(const std::string& page) {
  std::vector<std::string> lines;
  std::istringstream in(page);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\f')) line.pop_back();
    const auto first = line.find_first_not_of(' ');
    if (first != std::string::npos) lines.push_back(line.substr(first));
  }
  return lines;
}

class TextPrintTest : public test::CaptureQueueFixture {
 protected:
  void SetUp() override {
    CaptureQueueFixture::SetUp();
    if (HasFatalFailure()) return;
    kernel->localClock = March7;
    channel = EmptyChannel();
    WriteField(channel.printerName, kQueue);
    WriteField(channel.fontName, "Arial");
    channel.copies = 1;
    channel.dpiX = channel.dpiY = 300;
    channel.widthMM = 210;
    channel.heightMM = 297;
    channel.marginMM = 10;
    channel.fontSize = 10;
    channel.notePosition = 'F';
    channel.geometry = kernel->printerGeometry;
  }

  OutputReport Print(const std::string& name, const std::string& bytes, int32_t copies = 1) {
    test::WriteFileBytes(Path(name), bytes);
    kernel->currentChannel = channel;
    return outputs->PrintTextFile(Job(Path(name), kQueue, copies));
  }
  std::string OnlyJob(const std::string& title = {}) {
    auto jobs = CupsSandbox::Get().WaitForJobs(kQueue, 1);
    EXPECT_EQ(jobs.size(), 1u);
    if (jobs.empty()) return {};
    if (!title.empty()) {
      EXPECT_EQ(jobs[0].Info("title"), title);
    }
    return jobs[0].data;
  }
  bool NoJobs() const {
    return CupsSandbox::Get().CapturedJobs(kQueue).empty() &&
           CupsSandbox::Get().ActiveJobs(kQueue) == 0;
  }
  // The channel's font measured as text printing measures it, at 300 dpi.
  struct Metrics {
    int32_t lineHeight;
    double averageWidth;
  };
  Metrics FontMetrics() {
    ImageCanvas image(10, 10, 300, 300);
    auto typesetter = image.canvas().CreateLineTypesetter(300);
    FontSpec font;
    font.family = "Arial";
    typesetter->SetFont(font);
    return {typesetter->MeasureText("AXQ").height, typesetter->AverageCharWidth()};
  }

  PrintChannel channel{};
};

TEST_F(TextPrintTest, LinesFitBetweenTheMarginsAndBreakAtBlanksOrByCharacters) {
  // A page 60 mm wide: about 22 characters between the margins.
  channel.widthMM = 60;
  const int32_t pageWidth = 708;
  const std::string word(100, 'x');
  const std::string prose = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda";
  ASSERT_EQ(
      Print("wrap.txt", "short\r\n" + prose + "\n" + word + "\nab " + std::string(60, 'c') + "\n")
          .result,
      OutputResult::kPrinted);
  const std::string pdf = OnlyJob("Vellumora: wrap.txt");
  const auto lines = TextLines(test::PdfPageText(pdf, 1));
  ASSERT_GE(lines.size(), 8u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "short");

  // The prose breaks only at blanks: its words come back whole, in order, over several lines.
  std::size_t i = 1;
  std::string words;
  for (; i < lines.size() && lines[i][0] != 'x'; ++i)
    words += (words.empty() ? "" : " ") + lines[i];
  EXPECT_EQ(words, prose);
  EXPECT_GE(i, 4u);
  // The long word goes by characters: full lines of the same length, the rest after them.
  std::string xs;
  std::vector<std::size_t> lengths;
  for (; i < lines.size() && lines[i][0] == 'x'; ++i)
    xs += lines[i], lengths.push_back(lines[i].size());
  EXPECT_EQ(xs, word);
  ASSERT_GE(lengths.size(), 3u);
  for (std::size_t n = 1; n + 1 < lengths.size(); ++n) EXPECT_EQ(lengths[n], lengths[0]);
  // A blank among the first 4 characters is no break point: the line fills up with c's.
  ASSERT_LT(i, lines.size());
  EXPECT_EQ(lines[i].rfind("ab c", 0), 0u) << lines[i];
  EXPECT_GT(lines[i].size(), 10u);

  // Nothing is drawn outside the margins of the 60 mm page.
  const auto pages = test::RenderPdf(pdf, 150);
  ASSERT_EQ(pages.size(), 1u);
  const Box ink = test::FindPixels(pages[0], IsBlack);
  EXPECT_GE(ink.left * 2, kMargin - 2);
  EXPECT_LE(ink.right * 2, pageWidth - kMargin + 2);
  EXPECT_GE(ink.top * 2, kMargin - 2);
}

TEST_F(TextPrintTest, FormFeedsMakePagesAndEachCopyIsNumberedFromOne) {
  WriteField(channel.headerText, "Page <P> of <A>");
  channel.notePosition = 'A';
  ASSERT_EQ(Print("three.txt", "one\n\ftwo\fthree\n", 2).result, OutputResult::kPrinted);
  const std::string pdf = OnlyJob("Vellumora: three.txt");
  const char* bodies[] = {"one", "two", "three"};
  for (int page = 1; page <= 6; ++page) {
    const auto lines = TextLines(test::PdfPageText(pdf, page));
    const int n = (page - 1) % 3 + 1;
    ASSERT_EQ(lines.size(), 2u) << "page " << page << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "Page " + std::to_string(n) + " of <A>");
    EXPECT_EQ(lines[1], bodies[n - 1]);
  }
  EXPECT_EQ(created.size(), 1u);

  // On page 3 the note sits at the top margin and the text starts 2 note heights below it.
  const auto pages = test::RenderPdf(pdf, 300);
  ASSERT_EQ(pages.size(), 6u);
  const Box note = test::FindPixels(pages[2], IsGrey);
  const Box text = test::FindPixels(pages[2], IsBlack);
  ASSERT_FALSE(note.Empty());
  ASSERT_FALSE(text.Empty());
  EXPECT_NEAR(note.left, kMargin, 4);
  const int32_t h = FontMetrics().lineHeight;  // the note is Arial 10 points as well
  // Cap heights start about a fifth of the line height below the line's top.
  EXPECT_NEAR(text.top - note.top, 2 * h, h / 8);
}

TEST_F(TextPrintTest, MissingFontAndSizeMeanArialTenAndALastLineBreakAddsNoLine) {
  const Metrics metrics = FontMetrics();
  // The lines that fit one page: y goes from the margin in line heights while it stays above
  // PH - m - lh.
  const int32_t bottom = 3507 - kMargin - metrics.lineHeight;
  const int32_t perPage = (bottom - kMargin + metrics.lineHeight - 1) / metrics.lineHeight;
  std::string full;
  for (int32_t i = 0; i < perPage; ++i) full += "line " + std::to_string(i) + "\n";

  struct Case {
    const char* font;
    int32_t size;
    std::string text;
    int pages;
  };
  const Case cases[] = {
      {"Arial", 10, full, 1},
      {"", 0, full, 1},
      {"", -3, full + "one more", 2},
      {"Arial", 10, full + "\n", 2},  // an empty line of its own is a line
  };
  std::vector<std::vector<Raster>> printed;
  for (const Case& c : cases) {
    WriteField(channel.fontName, c.font);
    channel.fontSize = c.size;
    ASSERT_EQ(Print("f.txt", c.text).result, OutputResult::kPrinted);
    auto jobs = CupsSandbox::Get().WaitForJobs(kQueue, static_cast<int>(printed.size()) + 1);
    ASSERT_EQ(jobs.size(), printed.size() + 1);
    printed.push_back(test::RenderPdf(jobs.back().data, 50));
    EXPECT_EQ(static_cast<int>(printed.back().size()), c.pages) << c.font << " " << c.size;
  }
  // The same font: the same ink on the first page.
  ASSERT_FALSE(printed[1].empty());
  EXPECT_EQ(printed[1][0].rgb, printed[0][0].rgb);
  EXPECT_EQ(printed[2][0].rgb, printed[0][0].rgb);
}

TEST_F(TextPrintTest, EveryEncodingPrintsItsCharacters) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string expected;
  };
  const Case cases[] = {
      {"UTF-8",
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC",
       "Grüße €"},
      {"UTF-8 mark",
       "\xEF\xBB\xBF"
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       "Grüße"},
      {"UTF-16LE", std::string("\xFF\xFEG\0r\0\xFC\0\xDF\0e\0 \0\xAC\x20", 16), "Grüße €"},
      {"UTF-16BE", std::string("\xFE\xFF\0G\0r\0\xFC\0\xDF\0e", 12), "Grüße"},
      {"Windows-1252",
       "Gr\xFC\xDF"
       "e \x80 \x93q\x94",
       "Grüße € “q”"},
      {"invalid UTF-8 after a mark",
       "\xEF\xBB\xBF"
       "a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b"},
      {"control characters",
       "a\x07"
       "b\x1B"
       "c",
       "abc"},
  };
  int n = 0;
  for (const Case& c : cases) {
    ASSERT_EQ(Print("enc.txt", c.bytes).result, OutputResult::kPrinted) << c.what;
    auto jobs = CupsSandbox::Get().WaitForJobs(kQueue, ++n);
    ASSERT_EQ(jobs.size(), static_cast<std::size_t>(n));
    EXPECT_EQ(TextLines(test::PdfPageText(jobs.back().data, 1)),
              std::vector<std::string>{c.expected})
        << c.what;
  }
}

TEST_F(TextPrintTest, TabsGoToTheNextEighthAverageCharacterWidth) {
  ASSERT_EQ(Print("tab.txt", "\t|\n").result, OutputResult::kPrinted);
  const auto pages = test::RenderPdf(OnlyJob(), 300);
  ASSERT_EQ(pages.size(), 1u);
  const Box bar = test::FindPixels(pages[0], IsBlack);
  EXPECT_NEAR(bar.left, kMargin + 8 * FontMetrics().averageWidth, 8);
}

TEST_F(TextPrintTest, FailuresKeepTheFileWithoutAJob) {
  // Margins that leave no text width, or less than one character (W is 39 dots wide).
  for (int32_t margin : {105, 29}) {
    channel.widthMM = 60;
    channel.marginMM = margin;
    const OutputReport r = Print("wide.txt", "WWW\n");
    EXPECT_EQ(r.result, OutputResult::kRetry);
    EXPECT_EQ(r.message, "ERROR Page margins leave no room for text in wide.txt");
  }
  channel.widthMM = 210;
  channel.marginMM = 10;
  // A stop that is already pending.
  stopRequested = 1;
  EXPECT_EQ(Print("stop.txt", "text\n").result, OutputResult::kStopped);
  stopRequested = 0;
  // A descriptor that cannot be read.
  fs::create_directory(Path("folder.txt"));
  kernel->currentChannel = channel;
  const OutputReport r = outputs->PrintTextFile(Job(Path("folder.txt"), kQueue, 1));
  EXPECT_EQ(r.result, OutputResult::kRetry);
  EXPECT_EQ(r.message, "ERROR Text file couldn't be read: " + Path("folder.txt"));
  EXPECT_TRUE(NoJobs());
  EXPECT_FALSE(outputs->printer().Printing());
}

TEST_F(TextPrintTest, DroppedTextFilesGoThroughTheDispatcher) {
  kernel->currentChannel = channel;
  test::WriteFileBytes(Path("hello.txt"), "Hello\nWorld\n");
  test::WriteFileBytes(Path("later.log"), "later\n");
  EXPECT_TRUE(kernel->ProcessFile(Path("hello.txt"), kQueue, false, "hello.txt"));
  EXPECT_FALSE(fs::exists(Path("hello.txt")));
  const std::string pdf = OnlyJob("Vellumora: hello.txt");
  EXPECT_EQ(TextLines(test::PdfPageText(pdf, 1)), (std::vector<std::string>{"Hello", "World"}));

  // Stopped before the first page: the file stays for the next run.
  stopRequested = 1;
  EXPECT_FALSE(kernel->ProcessFile(Path("later.log"), kQueue, false, "later.log"));
  EXPECT_TRUE(fs::exists(Path("later.log")));
  EXPECT_EQ(CupsSandbox::Get().CapturedJobs(kQueue).size(), 1u);
}

}  // namespace
}  // namespace vellumora
