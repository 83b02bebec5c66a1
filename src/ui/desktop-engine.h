// The engine's side of the desktop windows: the scan loop runs on its own thread, and what it
// shows (status lines, the preview, the screen output, the busy state) reaches the windows as
// queued calls on the window thread. The preview is drawn here, on the engine thread, and the
// window only puts the finished picture on screen.
#pragma once

#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "kernel/output-port.h"
#include "kernel/status-line.h"
#include "output/preview-port.h"

namespace vellumora {
class C_Kernel;
class ImageCanvas;
class WatermarkBitmap;
}  // namespace vellumora

namespace vellumora::ui {

class TForm0;
class TForm3;

// One previewed page as the window shows it.
struct PreviewFrame {
  QImage page;                            // the page drawn at the preview's scale
  int32_t pageWidth = 0, pageHeight = 0;  // in printer dots
  int32_t dpi = 0;
  int32_t channelNumber = 0;
  QString fileName;
  uint64_t sequence = 0;       // answers carry it, so a click on an older page never counts
  bool awaitDecision = false;  // Print and Skip are offered
};

class DesktopEngine final : public PreviewPort, public WindowPort, public StatusWindow {
 public:
  DesktopEngine(C_Kernel& kernel, const WatermarkBitmap& watermark, TForm0& mainWindow,
                TForm3& pictureWindow);
  ~DesktopEngine() override;  // stops and joins the engine thread
  DesktopEngine(const DesktopEngine&) = delete;
  DesktopEngine& operator=(const DesktopEngine&) = delete;

  // Window thread. Start runs StartScanning on the engine thread; the main window hears
  // ScanningEnded when it returns. RequestStop asks the scan loop, the outputs and a waiting
  // preview to stop; Join waits for the thread.
  void Start();
  void RequestStop();
  void Join();
  bool Running() const;
  // A stop was asked since the last Start: the scan loop, which clears the process-wide flag
  // as it begins, is told again once it has (through the kernel's start hook).
  bool StopAsked() const { return stopAsked_.load(); }

  // Window thread: the operator's answer to preview `sequence` (2 Print, 0 Skip).
  void Decide(uint64_t sequence, int32_t decision);

  // Set by the main window as it changes (read by the engine thread).
  std::atomic<bool> windowShown{true};  // shown, not hidden in the tray nor minimised
  std::atomic<bool> alwaysPrint{false};
  std::atomic<int32_t> previewPanelWidth{0};  // the preview panel's client size
  std::atomic<int32_t> previewPanelHeight{0};
  std::atomic<int32_t> screenWidth{1920};  // the screen the picture window fills
  std::atomic<int32_t> screenHeight{1080};

  // PreviewPort (engine thread).
  bool Exists() const override;
  bool Visible() const override;
  void PreviewPage(const DeviceRect& page, int32_t dpiX, int32_t channelNumber,
                   const std::string& fileName) override;
  void PreviewImage(const DeviceRect& image, const Bitmap& picture) override;
  void PreviewWatermark(const DeviceRect& printable, bool stretchHorizontal,
                        bool stretchVertical) override;
  void PreviewNote(const DeviceRect& printable, const std::string& note, int32_t totalPages,
                   int32_t pageNumber, const std::string& fileName) override;
  int32_t WaitForPrintDecision() override;

  // WindowPort (engine thread).
  void SetProcessing(bool processing) override;
  void ClearPreview() override;
  bool ShowPicture(int fd, const std::string& path) override;
  void HidePicture() override;

  // StatusWindow (any thread: the engine, the mobile server's threads).
  void ShowLine(const std::string& displayLine, const std::string& text, bool replaceLast) override;

  // The preview's scale: preview pixels per printer dot of the page now drawn; 0 before the
  // first page.
  double previewScale() const { return previewScale_; }

 private:
  DeviceRect Scaled(const DeviceRect& r) const;

  C_Kernel& kernel_;
  const WatermarkBitmap& watermark_;
  QPointer<TForm0> main_;
  QPointer<TForm3> picture_;

  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopAsked_{false};

  // The page being drawn (engine thread only).
  std::unique_ptr<ImageCanvas> canvas_;
  PreviewFrame frame_;
  double previewScale_ = 0;

  std::mutex mutex_;
  std::condition_variable decided_;
  uint64_t sequence_ = 0;  // of the page awaiting a decision
  int32_t decision_ = -1;  // -1 while none has come
  bool waiting_ = false;
};

}  // namespace vellumora::ui
