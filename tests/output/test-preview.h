// The main window's side of the preview, answering as the test tells it and keeping what it
// was shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/outputs-fixture.h"
#include "output/preview-port.h"

namespace vellumora::test {

class TestPreview : public PreviewPort {
 public:
  bool Exists() const override { return true; }
  bool Visible() const override { return visible; }
  void PreviewPage(const DeviceRect& page, int32_t dpiX, int32_t channelNumber,
                   const std::string& fileName) override {
    pages.push_back(page);
    dpi = dpiX;
    channel = channelNumber;
    name = fileName;
  }
  void PreviewImage(const DeviceRect& image, const Bitmap& shown) override {
    images.push_back(image);
    pictureWidth = shown.width;
    picture = shown;
  }
  void PreviewWatermark(const DeviceRect&, bool, bool) override { ++watermarks; }
  void PreviewNote(const DeviceRect&, const std::string& text, int32_t total, int32_t page,
                   const std::string&) override {
    notes.push_back(text + " " + std::to_string(page) + "/" + std::to_string(total));
  }
  int32_t WaitForPrintDecision() override {
    if (stopWhileWaiting) stopRequested = 1;
    return answer;
  }

  bool visible = true;
  int32_t answer = 2;
  bool stopWhileWaiting = false;
  std::vector<DeviceRect> pages, images;
  std::vector<std::string> notes;
  int32_t dpi = 0, channel = 0, pictureWidth = 0, watermarks = 0;
  std::string name;
  Bitmap picture;  // the last picture shown
};

}  // namespace vellumora::test
