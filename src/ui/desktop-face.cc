// The desktop application: windows, engine thread and message loop.
#include "ui/desktop-face.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>

#include "kernel/kernel.h"
#include "kernel/status-line.h"
#include "output/outputs.h"
#include "platform/paths.h"
#include "ui/about-window.h"
#include "ui/desktop-engine.h"
#include "ui/info-window.h"
#include "ui/main-window.h"
#include "ui/picture-window.h"
#include "ui/setup-dialog.h"
#include "ui/ui-script.h"

namespace vellumora::ui {

DesktopApplication::DesktopApplication(DesktopContext& context, QString shareDirectory)
    : context_(context) {
  main_ = std::make_unique<TForm0>(context, shareDirectory);
  setup_ = std::make_unique<TForm1>(context, shareDirectory);
  setup_->SetMainWindow(main_.get());
  main_->SetSetupDialog(setup_.get());
  about_ = std::make_unique<TForm2>(shareDirectory);
  picture_ = std::make_unique<TForm3>();
  info_ = std::make_unique<TFormInfo>();
  engine_ = std::make_unique<DesktopEngine>(context.kernel, context.watermark, *main_, *picture_);
  main_->SetPeers(engine_.get(), about_.get(), picture_.get(), info_.get());
  setup_->SetInfoWindow(info_.get());
  setup_->AttachMobileServer();
  // A stop asked while the engine thread was starting is not lost when the scan loop clears
  // the stop flag as it begins.
  previousStartHook_ = context.kernel.onScanningStarts;
  context.kernel.onScanningStarts = [this] {
    if (previousStartHook_) previousStartHook_();
    if (engine_->StopAsked()) stopRequested = 1;
  };
  context.kernel.windows = engine_.get();
  context.outputs.preview = engine_.get();
  context.statusLine.SetWindow(engine_.get());
}

DesktopApplication::~DesktopApplication() {
  // The mobile server outlives the windows: from here on it tells them nothing.
  setup_->DetachMobileServer();
  engine_->RequestStop();
  engine_->Join();
  // Once SetWindow returns no thread is inside the engine's ShowLine any more.
  context_.statusLine.SetWindow(nullptr);
  context_.kernel.windows = nullptr;
  context_.kernel.onScanningStarts = previousStartHook_;
  context_.outputs.preview = nullptr;
  main_->SetPeers(nullptr, nullptr, nullptr, nullptr);
  main_->SetSetupDialog(nullptr);
  setup_->SetInfoWindow(nullptr);
  engine_.reset();
  info_.reset();
  picture_.reset();
  about_.reset();
  setup_.reset();
  main_.reset();
}

void RunDesktopFace(DesktopContext& context) {
  static int argc = 1;
  static char name[] = "vellumora";
  static char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Vellumora"));
  QApplication::setApplicationDisplayName(QStringLiteral("Vellumora"));
  QApplication::setDesktopFileName(QStringLiteral("vellumora"));
  // The tray and the picture window outlive a hidden main window.
  QApplication::setQuitOnLastWindowClosed(false);
  const QString share = QString::fromStdString(ShareDirectory());
  const QString iconFile = share + QStringLiteral("vellumora.svg");
  if (!share.isEmpty() && QFileInfo::exists(iconFile)) QApplication::setWindowIcon(QIcon(iconFile));

  DesktopApplication desktop(context, share);
  desktop.mainWindow().show();
  if (UiScript* script = UiScript::FromEnvironment(desktop.mainWindow(), desktop.infoWindow()))
    script->Start();
  QApplication::exec();
}

void InstallDesktopFace() {
  SetDesktopFace(RunDesktopFace);
}

}  // namespace vellumora::ui
