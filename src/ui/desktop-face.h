// The desktop application as a whole: its windows in their order of creation, the engine
// thread between them and the engine, and the message loop that runs them.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "host/program.h"

namespace vellumora::ui {

class DesktopEngine;
class TForm0;
class TForm1;
class TForm2;
class TForm3;
class TFormInfo;

class DesktopApplication {
 public:
  // Makes the windows (main window, setup dialog, about window, picture window, information
  // window) and
  // installs the engine's ports: status lines, preview and screen output reach the windows
  // from here on. A QApplication must exist.
  DesktopApplication(DesktopContext& context, QString shareDirectory);
  // Stops and joins the engine thread, then removes the ports again.
  ~DesktopApplication();
  DesktopApplication(const DesktopApplication&) = delete;
  DesktopApplication& operator=(const DesktopApplication&) = delete;

  TForm0& mainWindow() { return *main_; }
  TForm1& setupDialog() { return *setup_; }
  TForm2& aboutWindow() { return *about_; }
  TForm3& pictureWindow() { return *picture_; }
  TFormInfo& infoWindow() { return *info_; }
  DesktopEngine& engine() { return *engine_; }

 private:
  DesktopContext& context_;
  std::unique_ptr<TForm0> main_;
  std::unique_ptr<TForm1> setup_;
  std::unique_ptr<TForm2> about_;
  std::unique_ptr<TForm3> picture_;
  std::unique_ptr<TFormInfo> info_;
  std::unique_ptr<DesktopEngine> engine_;
  std::function<void()> previousStartHook_;
};

// The desktop branch with windows: runs the application until the main window closes.
void RunDesktopFace(DesktopContext& context);

// Installs RunDesktopFace as the program's desktop face.
void InstallDesktopFace();

}  // namespace vellumora::ui
