// The engine thread of the desktop application and the ports through which it reaches the
// windows.
#include "ui/desktop-engine.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>

#include "kernel/kernel.h"
#include "output/note-watermark.h"
#include "platform/cairo/cairo-canvas.h"
#include "platform/pictures.h"
#include "platform/stop-signals.h"
#include "ui/main-window.h"
#include "ui/picture-window.h"
#include "ui/qt-bitmap.h"

namespace vellumora::ui {

namespace {

// The title bar above the page picture, and the margin kept around it.
constexpr int32_t kTitleBarHeight = 35;
constexpr int32_t kPreviewMargin = 20;

}  // namespace

DesktopEngine::DesktopEngine(C_Kernel& kernel, const WatermarkBitmap& watermark, TForm0& mainWindow,
                             TForm3& pictureWindow)
    : kernel_(kernel), watermark_(watermark), main_(&mainWindow), picture_(&pictureWindow) {}

DesktopEngine::~DesktopEngine() {
  RequestStop();
  Join();
}

void DesktopEngine::Start() {
  if (running_.load()) return;
  Join();
  stopAsked_ = false;
  running_ = true;
  scanningActive = 1;  // the window shows "scanning" at once; StartScanning keeps it set
  thread_ = std::thread([this] {
    kernel_.StartScanning();
    running_ = false;
    QMetaObject::invokeMethod(
        main_.data(),
        [w = main_] {
          if (w) w->ScanningEnded();
        },
        Qt::QueuedConnection);
  });
}

void DesktopEngine::RequestStop() {
  stopAsked_ = true;
  stopRequested = 1;
  WakeStopWaiters();
  std::lock_guard lock(mutex_);
  decided_.notify_all();
}

void DesktopEngine::Join() {
  if (thread_.joinable()) thread_.join();
}

bool DesktopEngine::Running() const {
  return running_.load() || thread_.joinable();
}

void DesktopEngine::Decide(uint64_t sequence, int32_t decision) {
  std::lock_guard lock(mutex_);
  if (!waiting_ || sequence != sequence_) return;
  decision_ = decision;
  decided_.notify_all();
}

bool DesktopEngine::Exists() const {
  return !main_.isNull();
}

bool DesktopEngine::Visible() const {
  return windowShown.load();
}

DeviceRect DesktopEngine::Scaled(const DeviceRect& r) const {
  // Truncated toward zero, coordinate by coordinate.
  auto s = [this](int32_t v) { return static_cast<int32_t>(v * previewScale_); };
  return DeviceRect{s(r.left), s(r.top), s(r.right), s(r.bottom)};
}

void DesktopEngine::PreviewPage(const DeviceRect& page, int32_t dpiX, int32_t channelNumber,
                                const std::string& fileName) {
  canvas_.reset();
  const int64_t pageWidth = page.right;
  const int64_t pageHeight = page.bottom;
  if (pageWidth <= 0 || pageHeight <= 0) return;
  const int64_t availableWidth = previewPanelWidth.load() - kPreviewMargin;
  const int64_t availableHeight = previewPanelHeight.load() - kTitleBarHeight - kPreviewMargin;
  if (availableWidth < 1 || availableHeight < 1) return;
  int64_t width, height;
  if (static_cast<double>(pageWidth) / static_cast<double>(pageHeight) <
      static_cast<double>(availableWidth) / static_cast<double>(availableHeight)) {
    height = availableHeight;
    width = height * pageWidth / pageHeight;
  } else {
    width = availableWidth;
    height = width * pageHeight / pageWidth;
  }
  width = std::max<int64_t>(width, 1);
  height = std::max<int64_t>(height, 1);
  previewScale_ = static_cast<double>(width) / static_cast<double>(pageWidth);
  canvas_ = std::make_unique<ImageCanvas>(static_cast<int32_t>(width), static_cast<int32_t>(height),
                                          96, 96);
  frame_ = PreviewFrame{};
  frame_.pageWidth = page.right;
  frame_.pageHeight = page.bottom;
  frame_.dpi = dpiX;
  frame_.channelNumber = channelNumber;
  frame_.fileName = QString::fromStdString(fileName);
}

void DesktopEngine::PreviewImage(const DeviceRect& image, const Bitmap& picture) {
  if (!canvas_ || previewScale_ == 0) return;
  // A picture decoded without its pixels (only the JPEG file for a PDF page) leaves the page
  // white rather than being decoded again here.
  if (picture.HasPixels()) canvas_->canvas().StretchDraw(picture, Scaled(image));
}

void DesktopEngine::PreviewWatermark(const DeviceRect& printable, bool stretchHorizontal,
                                     bool stretchVertical) {
  if (!canvas_ || previewScale_ == 0) return;
  DrawWatermark(canvas_->canvas(), kernel_.currentChannel, watermark_, Scaled(printable),
                previewScale_, stretchVertical, stretchHorizontal);
}

void DesktopEngine::PreviewNote(const DeviceRect& printable, const std::string& note,
                                int32_t totalPages, int32_t pageNumber,
                                const std::string& fileName) {
  if (!canvas_ || previewScale_ == 0) return;
  DrawTextNote(canvas_->canvas(), kernel_.currentChannel, Scaled(printable), previewScale_,
               totalPages, pageNumber, fileName, note);
}

int32_t DesktopEngine::WaitForPrintDecision() {
  PreviewFrame frame = std::move(frame_);
  frame_ = PreviewFrame{};
  if (canvas_) frame.page = ToQImage(canvas_->Snapshot());
  canvas_.reset();
  const bool always = alwaysPrint.load();
  {
    std::lock_guard lock(mutex_);
    frame.sequence = ++sequence_;
    frame.awaitDecision = !always;
    decision_ = -1;
    waiting_ = !always;
  }
  QMetaObject::invokeMethod(
      main_.data(),
      [w = main_, frame] {
        if (w) w->ShowPreview(frame);
      },
      Qt::QueuedConnection);
  if (always) return 2;

  int32_t decision;
  {
    std::unique_lock lock(mutex_);
    // A stop request from a signal handler cannot notify: look at the flag every 50 ms.
    while (decision_ < 0 && stopRequested.load() == 0 && quitRequested.load() == 0)
      decided_.wait_for(lock, std::chrono::milliseconds(50));
    waiting_ = false;
    decision = (stopRequested.load() != 0 || quitRequested.load() != 0) ? 0 : decision_;
    if (decision < 0) decision = 0;
  }
  QMetaObject::invokeMethod(
      main_.data(),
      [w = main_] {
        if (w) w->EndPreviewWait();
      },
      Qt::QueuedConnection);
  return decision;
}

void DesktopEngine::SetProcessing(bool processing) {
  QMetaObject::invokeMethod(
      main_.data(),
      [w = main_, processing] {
        if (w) w->SetProcessing(processing);
      },
      Qt::QueuedConnection);
}

void DesktopEngine::ClearPreview() {
  QMetaObject::invokeMethod(
      main_.data(),
      [w = main_] {
        if (w) w->ClearPreview();
      },
      Qt::QueuedConnection);
}

bool DesktopEngine::ShowPicture(int fd, const std::string& path) {
  const pictures::Format* format = pictures::DecoderFor(path);
  if (format == nullptr || picture_.isNull()) return false;
  Bitmap decoded;
  if (pictures::LoadFrame(*format, fd, 1, decoded).frameCount < 1) return false;
  QImage image = ToQImage(decoded);
  decoded = Bitmap{};
  if (image.isNull()) return false;
  // Scaled to the screen here, so the window thread never resizes a large photo.
  const QSize screen(std::max(1, screenWidth.load()), std::max(1, screenHeight.load()));
  if (image.width() > screen.width() || image.height() > screen.height())
    image = image.scaled(screen, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QMetaObject::invokeMethod(
      picture_.data(),
      [w = picture_, image] {
        if (w) w->ShowPicture(image);
      },
      Qt::QueuedConnection);
  return true;
}

void DesktopEngine::HidePicture() {
  QMetaObject::invokeMethod(
      picture_.data(),
      [w = picture_] {
        if (w) w->hide();
      },
      Qt::QueuedConnection);
}

void DesktopEngine::ShowLine(const std::string& displayLine, const std::string&, bool replaceLast) {
  QMetaObject::invokeMethod(
      main_.data(),
      [w = main_, line = QString::fromStdString(displayLine), replaceLast] {
        if (w) w->ShowStatusLine(line, replaceLast);
      },
      Qt::QueuedConnection);
}

}  // namespace vellumora::ui
