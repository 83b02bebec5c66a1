// What the window tests start from: the process-wide objects of a desktop run (kernel with its
// data folder in the test's sandbox, log, status line, outputs, a service that is not
// installed) and the desktop application's windows on them, offscreen.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>
#include <chrono>
#include <algorithm>
#include <functional>
#include <mutex>
#include <vector>
#include <memory>
#include <string>

#include "host/program.h"
#include "host/service.h"
#include "kernel/kernel.h"
#include "kernel/klog.h"
#include "kernel/status-line.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "platform/paths.h"
#include "support/sandbox-dir.h"
#include "ui/desktop-engine.h"
#include "ui/desktop-face.h"
#include "ui/info-window.h"
#include "ui/main-window.h"
#include "ui/setup-dialog.h"

namespace vellumora::test {

// One QApplication for the whole test program, made before the first test.
inline void EnsureQtApplication() {
  if (QApplication::instance() != nullptr) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "vellumora-ui-tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  (void)app;
}

// Processes events until `done` holds or `ms` have passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 10'000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

class DesktopFixture : public ::testing::Test {
 protected:
  DesktopFixture() {
    EnsureQtApplication();
    stopRequested = 0;
    scanningActive = 0;
    kernelIdle = 1;
    ui::suppressAutoStart = true;
    setenv("VELLUMORA_COMMON_APPDATA", dir.path().c_str(), 1);
    service = std::make_unique<C_VAZService>(
        "Vellumora", [] {}, [](int32_t) {}, true, C_VAZService::Environment{});
    kernel = std::make_unique<C_Kernel>(dir.path().string() + "/");
    log = std::make_unique<C_KLog>(kernel->dataDir + "Vellumora.log");
    kernel->log = log.get();
    statusLine = std::make_unique<StatusLine>(log.get());
    kernel->logCallback = [this](const std::string& text, bool replaceLast) {
      statusLine->Show(text, replaceLast);
    };
    outputs = std::make_unique<Outputs>(*kernel, watermark);
    kernel->output = outputs.get();
    kernel->onScanningStarts = [o = outputs.get()] { o->LoadWatermark(); };
    kernel->idleWaitMs = [](int32_t ms) { QThread::msleep(std::min(ms, 20)); };
    context = std::make_unique<DesktopContext>(
        DesktopContext{*kernel, *service, *log, *statusLine, *outputs, watermark});
    desktop = std::make_unique<ui::DesktopApplication>(*context,
                                                       QString::fromStdString(ShareDirectory()));
    // The window's start, as its timer runs it: no channels yet, and NO to the first start's
    // questions.
    desktop->infoWindow().answerHook = [](ui::TFormInfo&) { return ui::kAnswerNo; };
    // Default channels the setup dialog makes go into the sandbox too.
    window().defaultFilesFolder = [this] { return (dir.path() / "VellumoraFiles").string(); };
    window().TimerStartTimer();
    // The tests run the setup dialog's change check themselves, and the first start's pending
    // save is not theirs.
    if (auto* check = desktop->setupDialog().TimerCheckChanges) check->stop();
    desktop->setupDialog().settingsDirty = false;
  }
  ~DesktopFixture() override {
    stopRequested = 1;
    desktop.reset();
    kernel->logCallback = nullptr;
    kernel->output = nullptr;
    outputs.reset();
    stopRequested = 0;
    scanningActive = 0;
  }

  template <typename T = QWidget>
  T* Find(const char* name) {
    T* w = window().findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // Keeps every line the kernel logs from here on; Logged looks for one.
  void RecordLogLines() {
    kernel->logCallback = [this](const std::string& text, bool replaceLast) {
      {
        std::lock_guard lock(logLinesMutex);
        logLines.push_back(text);
      }
      statusLine->Show(text, replaceLast);
    };
  }
  bool Logged(const std::string& line) {
    std::lock_guard lock(logLinesMutex);
    return std::find(logLines.begin(), logLines.end(), line) != logLines.end();
  }
  ui::TForm0& window() { return desktop->mainWindow(); }
  ui::DesktopEngine& engine() { return desktop->engine(); }

  SandboxDir dir;
  std::unique_ptr<C_VAZService> service;
  std::unique_ptr<C_Kernel> kernel;
  std::unique_ptr<C_KLog> log;
  std::unique_ptr<StatusLine> statusLine;
  WatermarkBitmap watermark;
  std::unique_ptr<Outputs> outputs;
  std::unique_ptr<DesktopContext> context;
  std::unique_ptr<ui::DesktopApplication> desktop;
  std::mutex logLinesMutex;
  std::vector<std::string> logLines;
};

}  // namespace vellumora::test
