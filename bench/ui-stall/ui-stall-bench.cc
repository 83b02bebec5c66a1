// How long the window thread stalls while a 24-megapixel picture and a 1 MB text file print:
// the desktop application as built (scan loop on the engine thread) against the scan loop
// nested in the window's own thread, pumping its messages between steps.
//   ui_stall_bench QUEUE thread|nested
// The data folder is $VELLUMORA_COMMON_APPDATA; the print server is $CUPS_SERVER's.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/program.h"
#include "host/service.h"
#include "kernel/default-channels.h"
#include "kernel/kernel.h"
#include "kernel/klog.h"
#include "kernel/status-line.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "platform/stop-signals.h"
#include "ui/desktop-engine.h"
#include "ui/desktop-face.h"
#include "ui/main-window.h"

using namespace vellumora;
namespace fs = std::filesystem;

namespace {

void MakeFiles(const fs::path& staging, const fs::path& folder) {
  // A 6000 × 4000 photo-like picture: gradients and shapes, so the JPEG is of a usual size.
  QImage picture(6000, 4000, QImage::Format_RGB32);
  QPainter p(&picture);
  QLinearGradient g(0, 0, 6000, 4000);
  g.setColorAt(0, QColor(40, 110, 200));
  g.setColorAt(1, QColor(30, 160, 90));
  p.fillRect(picture.rect(), g);
  for (int i = 0; i < 400; ++i) {
    p.setBrush(QColor((i * 37) % 255, (i * 91) % 255, (i * 53) % 255));
    p.drawEllipse((i * 617) % 6000, (i * 331) % 4000, 80 + i % 300, 60 + i % 200);
  }
  p.end();
  picture.save(QString::fromStdString((staging / "photo.jpg").string()), "JPEG", 90);
  std::ofstream text(staging / "report.txt", std::ios::binary);
  for (int line = 0; text.tellp() < (1 << 20); ++line)
    text << "Line " << line << ": the quick brown fox jumps over the lazy dog, 0123456789.\r\n";
  text.close();
  fs::rename(staging / "photo.jpg", folder / "photo.jpg");
  fs::rename(staging / "report.txt", folder / "report.txt");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ui_stall_bench QUEUE thread|nested\n");
    return 2;
  }
  const std::string queue = argv[1];
  const bool nested = std::string(argv[2]) == "nested";
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);

  const char* data = std::getenv("VELLUMORA_COMMON_APPDATA");
  if (data == nullptr) return 2;
  const fs::path root(data);
  const fs::path folder = root / (nested ? "in-nested" : "in-thread");
  fs::create_directories(folder);
  fs::remove(root / "Vellumora" / "Vellumora.vch");
  fs::remove(root / "Vellumora" / "Vellumora.ini");

  C_VAZService service(
      "Vellumora", [] {}, [](int32_t) {}, true, C_VAZService::Environment{});
  C_Kernel kernel(root.string() + "/");
  gKernel = &kernel;
  C_KLog log(kernel.dataDir + "Vellumora.log");
  kernel.log = &log;
  StatusLine statusLine(&log);
  kernel.logCallback = [&](const std::string& t, bool r) { statusLine.Show(t, r); };
  WatermarkBitmap watermark;
  Outputs outputs(kernel, watermark);
  kernel.output = &outputs;
  kernel.onScanningStarts = [&] {
    outputs.LoadWatermark();
    outputs.InitPdfModules();
  };
  kernel.ReadSettings(false);
  kernel.settings.NoRawFilePrinting = false;  // text files are taken only with raw printing on
  PrintChannel channel = NewChannelRecord(folder.string(), queue, 1);
  PageGeometry page;  // the printer's page, measured as vellumora-setup add-channel does
  if (!outputs.ReadPrinterMetrics(queue, page)) {
    std::fprintf(stderr, "the page of printer %s cannot be read\n", queue.c_str());
    return 1;
  }
  TakeMeasuredPage(channel, page);
  SpareChannelSlot(kernel) = channel;
  kernel.SaveSettings(true);

  DesktopContext context{kernel, service, log, statusLine, outputs, watermark};
  ui::DesktopApplication desktop(context, QString());
  ui::TForm0& window = desktop.mainWindow();
  // The bench starts the scanning itself, in the mode measured: the window's own start is off.
  if (auto* start = window.findChild<QTimer*>(QStringLiteral("TimerStart"))) start->stop();
  window.resize(1367, 862);
  window.show();
  desktop.engine().alwaysPrint = true;  // previewed and printed without waiting
  if (nested) {
    // The scan loop on the window thread, keeping the window alive by pumping its messages.
    kernel.pumpMessages = [] { QCoreApplication::processEvents(); };
    kernel.idleWaitMs = nullptr;
  } else {
    kernel.idleWaitMs = WaitForStopWake;  // as the program sets it
  }

  // The window thread's heartbeat: a 5 ms timer; a stall is a long gap between its ticks.
  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> gaps;
  qint64 last = -1;
  bool measuring = false;
  QTimer heartbeat;
  heartbeat.setTimerType(Qt::PreciseTimer);
  heartbeat.setInterval(5);
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    if (measuring && last >= 0) gaps.push_back(now - last);
    last = now;
  });
  heartbeat.start();

  qint64 started = 0, finished = 0;
  QTimer done;
  done.setInterval(20);
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (!measuring) return;
    const bool timedOut = clock.elapsed() - started > 300'000;
    if (timedOut) std::fprintf(stderr, "the files were not printed within 300 s\n");
    if (!fs::is_empty(folder) && !timedOut) return;
    finished = clock.elapsed();
    measuring = false;
    done.stop();
    if (nested)
      stopRequested = 1;
    else
      desktop.engine().RequestStop();
    QTimer::singleShot(300, [&] { QApplication::quit(); });
  });

  QTimer::singleShot(500, [&] {
    MakeFiles(root, folder);
    started = clock.elapsed();
    measuring = true;
    last = -1;
    done.start();
    if (nested) {
      scanningActive = 1;
      kernel.StartScanning();  // returns once the stop is requested
    } else {
      desktop.engine().Start();
    }
  });
  QApplication::exec();
  if (nested) kernel.pumpMessages = nullptr;

  std::sort(gaps.begin(), gaps.end());
  const qint64 worst = gaps.empty() ? 0 : gaps.back();
  const qint64 p99 = gaps.empty() ? 0 : gaps[gaps.size() * 99 / 100];
  std::printf(
      "%-7s files printed in %.2f s; window thread: longest stall %lld ms, 99th percentile gap "
      "%lld ms (%zu ticks)\n",
      nested ? "nested" : "thread", (finished - started) / 1000.0, static_cast<long long>(worst),
      static_cast<long long>(p99), gaps.size());
  gKernel = nullptr;
  return 0;
}
