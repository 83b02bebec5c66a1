// The main window's preview as picture printing sees it: the first page of each copy is shown
// there and the job waits for the operator's Print or Skip. The desktop main window implements
// it; service and headless runs have none (Outputs::preview is nullptr).
#pragma once

#include <cstdint>
#include <string>

#include "platform/canvas.h"

namespace vellumora {

class PreviewPort {
 public:
  virtual ~PreviewPort() = default;

  // The window exists and is shown: only then is a page previewed and the decision awaited.
  virtual bool Exists() const = 0;
  virtual bool Visible() const = 0;

  // A new page: its rectangle in printer dots (0, 0, width, height), the printer's horizontal
  // resolution, the channel's number (from 1) and the file's name.
  virtual void PreviewPage(const DeviceRect& page, int32_t dpiX, int32_t channelNumber,
                           const std::string& fileName) = 0;
  // The picture and where it lands on that page, in page coordinates.
  virtual void PreviewImage(const DeviceRect& image, const Bitmap& picture) = 0;
  // The watermark over the printable rectangle (canvas coordinates), with the channel's
  // stretch flags. The window draws it with DrawWatermark at its own scale.
  virtual void PreviewWatermark(const DeviceRect& printable, bool stretchHorizontal,
                                bool stretchVertical) = 0;
  // The text note over the printable rectangle; the window draws it with DrawTextNote.
  virtual void PreviewNote(const DeviceRect& printable, const std::string& note, int32_t totalPages,
                           int32_t pageNumber, const std::string& fileName) = 0;
  // Waits, keeping the window responsive, until the operator chooses: 2 for Print, 0 for Skip.
  // A stop request while waiting also answers 0.
  virtual int32_t WaitForPrintDecision() = 0;
};

}  // namespace vellumora
