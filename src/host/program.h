// The program entry shared by every run mode.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "host/service.h"

namespace vellumora {

class C_Kernel;
class C_KLog;
class Outputs;
class StatusLine;
class WatermarkBitmap;

// 1 when this desktop instance runs beside an installed service.
extern std::atomic<int32_t> serviceSetupMode;

// Process-wide objects, set by RunProgram for the life of the process.
extern WatermarkBitmap* gWatermarkBitmap;
extern C_VAZService* gService;
extern C_KLog* gLog;

// What the desktop windows are handed when they take over the desktop branch: the
// process-wide objects, alive until the face returns.
struct DesktopContext {
  C_Kernel& kernel;
  C_VAZService& service;
  C_KLog& log;
  StatusLine& statusLine;
  Outputs& outputs;
  WatermarkBitmap& watermark;
};
// Runs the windows until the main window closes (the desktop branch's message loop).
using DesktopFace = std::function<void(DesktopContext&)>;
// Installed by an executable built with windows; without one, or without a display, the
// desktop branch runs headless.
void SetDesktopFace(DesktopFace face);
// A display to open windows on: DISPLAY or WAYLAND_DISPLAY is set, or Qt is told to draw
// offscreen (QT_QPA_PLATFORM=offscreen, the window tests).
bool DisplayAvailable();

// Creates the process-wide objects, writes the start banner, runs the service or the desktop
// branch and shuts down in order. Returns the process exit code.
int RunProgram(int argc, char** argv);
// The same with the service manager found where `environment` says (tests use a private bus).
int RunProgram(int argc, char** argv, const C_VAZService::Environment& environment);

// The body shared by the service and the desktop application.
void ServiceMain();
// The service's control handler: the stop control (systemd's SIGTERM) and the others.
void ControlHandler(int32_t code);

}  // namespace vellumora
