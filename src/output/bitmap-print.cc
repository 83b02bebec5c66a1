// Picture files on the printer: every frame on its own page, laid out by the channel's rules,
// with the text note and the watermark over it, all copies in one print document.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "output/note-watermark.h"
#include "output/outputs.h"
#include "output/picture-layout.h"
#include "output/picture-page.h"
#include "output/preview-port.h"
#include "platform/pictures.h"

namespace vellumora {

LoadedFrame ReadGraphicFrame(Bitmap& bitmap, int fd, const std::string& path, int32_t frame,
                             bool pixelsOptional) {
  LoadedFrame loaded;
  const pictures::Format* format = pictures::DecoderFor(path);
  pictures::FrameResult r;
  if (format) {
    r = pictures::LoadFrame(*format, fd, frame, bitmap, pixelsOptional);
  } else {
    r.error = "the file name has no picture type";
  }
  if (r.tooLarge) {
    loaded.failure = "ERROR Picture too large to print: " + ReadableText(path) + " (" +
                     std::to_string(r.declaredWidth) + " x " + std::to_string(r.declaredHeight) +
                     " pixels)";
    loaded.tooLarge = true;
    return loaded;
  }
  if (r.frameCount < 1) {
    loaded.failure = "ERROR Corrupted graphic file " + ReadableText(path);
    loaded.detail = ReadableText(r.error);
    return loaded;
  }
  loaded.count = r.frameCount;
  // Only TIFF frames keep their resolution: JPEG, BMP and PNG pictures print one printer dot
  // per pixel whatever they store.
  if (r.decoded && *format == pictures::Format::kTiff) {
    loaded.dpiX = r.dpiX;
    loaded.dpiY = r.dpiY;
  }
  return loaded;
}

int32_t Outputs::LoadGraphicFrame(Bitmap& bitmap, int fd, const std::string& path, int32_t frame,
                                  bool pixelsOptional) {
  C_Kernel& k = kernel_;
  const LoadedFrame loaded = ReadGraphicFrame(bitmap, fd, path, frame, pixelsOptional);
  k.imageDpiX = loaded.dpiX;
  k.imageDpiY = loaded.dpiY;
  if (loaded.count < 1) {
    k.Log(loaded.failure);
    if (k.settings.DebugMode && !loaded.tooLarge) k.Log("DEBUG-INFO " + loaded.detail);
  }
  return loaded.count;
}

int32_t Outputs::LoadGraphicFrame(Bitmap& bitmap, const std::string& path, int32_t frame,
                                  bool pixelsOptional) {
  const FileHandle file = pictures::OpenPictureFile(path);
  return LoadGraphicFrame(bitmap, file.get(), path, frame, pixelsOptional);
}

OutputReport Outputs::PrintBitmapFile(const OutputJob& job) {
  return PrintBitmapPages(job, 0, 0);
}

OutputReport Outputs::PrintBitmapPages(const OutputJob& job, int32_t totalPages,
                                       int32_t pageNumber) {
  C_Kernel& k = kernel_;
  const std::string& path = job.path;
  const std::string& name = job.name;
  int32_t copies = job.copies;
  OutputReport report;

  // A document left open by an earlier job (a PDF that stopped below its last page) ends now.
  if (pageNumber < 2 && printer().Printing()) {
    std::string error;
    if (!printer().EndDoc(name, nullptr, &error))
      k.Log("ERROR The print job left open before couldn't be sent: " + ReadableText(error));
  }

  const PrintChannel& c = *job.channel;
  const PageGeometry& g = c.geometry;
  const std::string printerName = ReadField(c.printerName);
  const std::string note = ReadField(c.headerText);
  Bitmap bitmap;
  bool stopped = false;
  int32_t page = 1;
  int32_t total = 1;
  // Frames of two pixels or less across or down are not drawn and take no page: a new page is
  // started only when the next frame is drawn onto it.
  bool drawnAny = false;  // a frame of this call is on a page
  // A frame was skipped because the channel's resolution draws it at no size at all (a
  // resolution of 0 dots per inch).
  bool sizeless = false;
  bool pageUsed = false;  // the document's current page holds a frame of this call

  // One pass per copy. Every early end of the job returns from here to the common end below.
  auto run = [&]() {
    for (;;) {
      page = std::max(pageNumber, 1);
      total = std::max(totalPages, 1);
      int32_t frame = 1;
      bool copyStarted = false;  // a frame of this copy was drawn
      k.imageDpiX = 0;
      k.imageDpiY = 0;
      for (;;) {
        // Without a visible preview the picture goes only onto the PDF page, which can carry a
        // JPEG file as it is: its pixels need not be kept.
        const bool previewShown = preview && preview->Exists() && preview->Visible();
        const int32_t count = LoadGraphicFrame(bitmap, job.fd, path, frame, !previewShown);
        if (count > total) total = count;
        if (count < 1) {
          // Damaged, too large, or not a picture at all: it can never print.
          report = {OutputResult::kRejected, {}};
          return;
        }
        if (job.StopAsked()) {
          stopped = true;
          return;
        }
        std::optional<PictureLayout> placed;
        if (bitmap.width > 2 && bitmap.height > 2) {
          placed =
              LayOutPicture(c, FrameSize{bitmap.width, bitmap.height, k.imageDpiX, k.imageDpiY});
          // A frame drawn at no size would be a blank page reported as printed.
          if (placed->image.Width() < 1 || placed->image.Height() < 1) {
            placed.reset();
            sizeless = true;
          }
        }
        if (placed) {
          const PictureLayout& layout = *placed;
          const Orientation orientation =
              layout.landscape ? Orientation::kLandscape : Orientation::kPortrait;
          if (c.setOrientation && !printer().Printing()) printer().SetOrientation(orientation);
          // The first page of a document is the first frame drawn, whichever frame that is.
          const bool startsDocument = pageNumber <= 1 && !printer().Printing();

          // Paper size control, before the document. The printer object is renewed by it, so
          // it is reached afresh below.
          if (startsDocument)
            SetPrinterDefaultPaper(printerName, layout.paper.paperCode, layout.paper.widthMm,
                                   layout.paper.heightMm);

          k.jobStatus = 2;
          const DeviceRect& printable = layout.printable;

          // Each copy's first page is previewed.
          if (!copyStarted && pageNumber <= 1 && preview && preview->Exists() &&
              preview->Visible()) {
            preview->PreviewPage(DeviceRect{0, 0, layout.pageWidth, layout.pageHeight}, g.dpiX,
                                 k.currentChannelIndex + 1, name);
            preview->PreviewImage(layout.image, bitmap);
            preview->PreviewWatermark(printable, c.stretchWMhor != 0, c.stretchWMvert != 0);
            preview->PreviewNote(printable, note, total, page, name);
            k.jobStatus = preview->WaitForPrintDecision();
            if (k.jobStatus != 2) {
              // A stop while waiting is no decision of the operator's: the file stays.
              if (job.StopAsked())
                stopped = true;
              else
                report = {OutputResult::kSkipped, {}};
              page = -1;
              return;
            }
          }
          copyStarted = true;

          if (startsDocument) {
            if (c.setOrientation) printer().SetOrientation(orientation);
            printer().title = "Vellumora: " + name;
            printer().BeginDoc();
          }
          if (!printer().Printing()) {
            report = {OutputResult::kRetry,
                      "Print job couldn't be started. Retrying in next cycle."};
            return;
          }
          if (pageUsed) printer().NewPage();
          DrawPicturePage(printer().canvas(), c, watermark_, layout, bitmap, total, page, name,
                          k.localClock);
          // The canvas keeps what it needs of the picture: its memory goes before the page is
          // written out, which matters for pictures of tens of megapixels.
          bitmap = Bitmap{};
          pageUsed = drawnAny = true;
        }
        if (count > 1 && frame < count) {
          ++frame;
          ++page;
          continue;
        }
        break;
      }
      // Nothing of the file could be drawn: further copies would draw nothing either.
      if (!printer().Printing()) return;
      if (copies > 1) {
        --copies;
        continue;
      }
      if (page >= total) {
        std::string error;
        if (!printer().EndDoc(
                name, [&](int32_t id) { return job.JobCreated(printerName, id, job.copies); },
                &error)) {
          // The document was drawn but the print server does not hold it: nothing went out.
          report = {OutputResult::kRetry, "ERROR Print job couldn't be sent to printer " +
                                              printerName + ": " + ReadableText(error) +
                                              ". Retrying in next cycle."};
        } else {
          job.JobConfirmed(printerName, printer().LastJobId());
        }
      } else if (pageUsed) {
        printer().NewPage();  // the caller's next page follows in this document
      }
      return;
    }
  };
  run();

  // A whole file never leaves its document open for the next file's job: a job ended early
  // (a stop, a skip in the preview of a later copy, a failure) sends nothing.
  if (totalPages < 1 && printer().Printing()) printer().Abort();
  if (page >= total && printer().Printing()) printer().Abort();
  bitmap = Bitmap{};
  if (stopped) return {OutputResult::kStopped, {}};
  // A whole file of which no frame could be drawn went nowhere: it is no printed file, and as
  // it will never have more to draw, it is refused.
  if (report.result == OutputResult::kPrinted && totalPages < 1 && !drawnAny)
    return {OutputResult::kRejected,
            "ERROR Picture too small to print: " + ReadableText(path) +
                (sizeless ? " (the channel's printer resolution is unknown)"
                          : " (every image is at most 2 pixels wide or high)")};
  return report;
}

}  // namespace vellumora
