// Text files on the printer: the lines typeset in the channel's font between one margin on
// every side, long lines wrapped at blanks, with the text note and the watermark on every
// page and all copies in one print document.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "output/note-watermark.h"
#include "output/outputs.h"
#include "output/text-lines.h"
#include "platform/files.h"
#include "platform/text-encoding.h"

namespace vellumora {

namespace {

// Larger files are refused: their text is held whole, four bytes per character.
constexpr int64_t kMaxTextFileBytes = 64 * 1024 * 1024;

enum class ReadOutcome { kRead, kFailed, kTooLarge };

ReadOutcome ReadWholeFile(int fd, std::string* bytes) {
  bytes->clear();
  std::size_t chunk = 1 << 20;
  for (;;) {
    const std::size_t at = bytes->size();
    bytes->resize(at + chunk);
    const int64_t n = ReadAt(fd, bytes->data() + at, chunk, static_cast<int64_t>(at));
    if (n < 0) return ReadOutcome::kFailed;
    bytes->resize(at + static_cast<std::size_t>(n));
    if (static_cast<int64_t>(bytes->size()) > kMaxTextFileBytes) return ReadOutcome::kTooLarge;
    if (static_cast<std::size_t>(n) < chunk) return ReadOutcome::kRead;
  }
}

// Dots for a length in millimetres at `dpi`, truncated.
int32_t Dots(int32_t dpi, int32_t mm) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(int64_t{dpi} * mm * 10 / 254, INT32_MIN, INT32_MAX));
}

// The channel's font: a Windows colour value is 0x00BBGGRR.
FontSpec ChannelFont(const PrintChannel& c) {
  FontSpec font;
  font.family = ReadField(c.fontName);
  if (font.family.empty()) font.family = "Arial";
  font.points = c.fontSize < 1 ? 10 : c.fontSize;
  font.style = c.fontStyle & (kBold | kItalic | kUnderline | kStrikeOut);
  const auto colour = static_cast<uint32_t>(c.fontColor);
  font.colorRgb = ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
  return font;
}

}  // namespace

OutputReport Outputs::PrintTextFile(const OutputJob& job) {
  C_Kernel& k = kernel_;
  const PrintChannel& c = *job.channel;
  const std::string& name = job.name;
  const std::string printerName = ReadField(c.printerName);

  // A document left open by an earlier job (a PDF that stopped below its last page) ends now.
  if (printer().Printing()) {
    std::string error;
    if (!printer().EndDoc(name, nullptr, &error))
      k.Log("ERROR The print job left open before couldn't be sent: " + ReadableText(error));
  }

  std::string bytes;
  switch (ReadWholeFile(job.fd, &bytes)) {
    case ReadOutcome::kFailed:
      return {OutputResult::kRetry, "ERROR Text file couldn't be read: " + ReadableText(job.path)};
    case ReadOutcome::kTooLarge:
      return {OutputResult::kRejected,
              "ERROR Text file too large to print: " + ReadableText(job.path) + " (more than " +
                  std::to_string(kMaxTextFileBytes >> 20) + " MB)"};
    case ReadOutcome::kRead:
      break;
  }
  const std::u32string text = DecodeText(bytes).text;
  bytes = std::string();
  const std::vector<TextLine> lines = SplitTextLines(text);
  if (lines.empty()) return {};
  if (job.StopAsked()) return {OutputResult::kStopped, {}};

  const bool landscape = c.landscape != 0;
  const int32_t pageWidth = landscape ? Dots(c.dpiY, c.heightMM) : Dots(c.dpiX, c.widthMM);
  const int32_t pageHeight = landscape ? Dots(c.dpiX, c.widthMM) : Dots(c.dpiY, c.heightMM);
  const int32_t m = Dots(c.dpiX, c.marginMM);
  const OutputReport noRoom{OutputResult::kRetry,
                            "ERROR Page margins leave no room for text in " + name};
  const double textWidth = static_cast<double>(pageWidth) - 2.0 * m;
  if (textWidth <= 0) return noRoom;

  if (c.setOrientation && !printer().Printing())
    printer().SetOrientation(landscape ? Orientation::kLandscape : Orientation::kPortrait);
  printer().title = "Vellumora: " + name;
  printer().BeginDoc();
  if (!printer().Printing())
    return {OutputResult::kRetry, "Print job couldn't be started. Retrying in next cycle."};

  // Points are points at the page's vertical resolution.
  std::unique_ptr<LineTypesetter> typesetter =
      printer().canvas().CreateLineTypesetter(landscape ? c.dpiX : c.dpiY);
  if (!typesetter) {
    printer().Abort();
    return {OutputResult::kRetry, "ERROR Text can't be typeset on printer " + printerName};
  }
  typesetter->SetFont(ChannelFont(c));
  const int32_t lh = std::max(1, typesetter->MeasureText("AXQ").height);
  const double tabWidth = 8 * typesetter->AverageCharWidth();

  // The line last shaped and where each of its characters begins.
  std::size_t shaped = lines.size();
  std::vector<double> advances, offsets;
  auto shape = [&](std::size_t index) {
    if (shaped == index) return;
    shaped = index;
    const std::u32string_view line(text.data() + lines[index].begin,
                                   lines[index].end - lines[index].begin);
    typesetter->ShapeLine(line, &advances);
    offsets.assign(line.size() + 1, 0.0);
    for (std::size_t i = 0; i < line.size(); ++i) {
      double a = advances[i];
      // A tab goes on to the next multiple of 8 average character widths from the line start.
      if (line[i] == U'\t' && tabWidth > 0)
        a = (std::floor(offsets[i] / tabWidth) + 1) * tabWidth - offsets[i];
      offsets[i + 1] = offsets[i] + a;
    }
  };

  int32_t copiesLeft = std::max(job.copies, 1);
  int32_t page = 0;
  bool firstPage = true;
  int32_t y = 0, bottom = 0;
  std::size_t index = 0;    // the line in hand
  std::size_t segment = 0;  // where its next segment begins, relative to the line
  int32_t breaksDue = 0;    // form feeds still to turn into pages
  OutputReport report;

  auto startPage = [&] {
    if (!firstPage) printer().NewPage();
    firstPage = false;
    ++page;
    y = m;
    Canvas& canvas = printer().canvas();
    const TextPageNote note =
        DrawTextPageNote(canvas, c, pageWidth, pageHeight, m, page, name, k.localClock);
    if (note.drawn && note.atTop) y += 2 * note.height;
    DrawTextPageWatermark(canvas, c, watermark_, pageWidth, pageHeight, m);
    // A note at the bottom (any position but A, B and C) shortens the text area.
    bottom = pageHeight - m - lh - (note.drawn && !note.atTop ? note.height : 0);
    if (breaksDue > 0) --breaksDue;
  };

  auto run = [&]() -> bool {
    for (;;) {
      if (job.StopAsked()) return false;
      startPage();
      for (;;) {
        if (breaksDue > 0) break;  // a form feed: this page is done
        const TextLine& line = lines[index];
        shape(index);
        const std::u32string_view lineText(text.data() + line.begin, line.end - line.begin);
        const std::size_t length =
            FitSegment(lineText, offsets, segment, lineText.size(), textWidth);
        if (length == 0 && segment < lineText.size()) {
          report = noRoom;  // not even one character fits: the line could never advance
          return true;
        }
        if (length > 0)
          typesetter->DrawLine(printer().canvas(), m, y, segment, segment + length, offsets);
        y += lh;
        segment += length;
        if (segment >= lineText.size()) {
          segment = 0;
          if (++index == lines.size()) break;
          breaksDue = lines[index].pageBreaks;
        }
        if (y >= bottom) break;
      }
      if (index < lines.size()) continue;
      // The end of the text: the next copy begins on a new page, numbered from 1.
      if (copiesLeft > 1) {
        --copiesLeft;
        page = 0;
        index = segment = 0;
        breaksDue = 0;
        continue;
      }
      std::string error;
      if (!printer().EndDoc(
              name, [&](int32_t id) { return job.JobCreated(printerName, id, job.copies); },
              &error))
        report = {OutputResult::kRetry, "ERROR Print job couldn't be sent to printer " +
                                            printerName + ": " + ReadableText(error) +
                                            ". Retrying in next cycle."};
      else
        job.JobConfirmed(printerName, printer().LastJobId());
      return true;
    }
  };
  const bool finished = run();
  if (printer().Printing()) printer().Abort();
  if (!finished) return {OutputResult::kStopped, {}};
  return report;
}

}  // namespace vellumora
