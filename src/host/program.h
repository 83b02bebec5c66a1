// The program entry shared by every run mode.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/service.h"

namespace vellumora {

class C_KLog;
class WatermarkBitmap;

// 1 when this desktop instance runs beside an installed service.
extern std::atomic<int32_t> serviceSetupMode;

// Process-wide objects, set by RunProgram for the life of the process.
extern WatermarkBitmap* gWatermarkBitmap;
extern C_VAZService* gService;
extern C_KLog* gLog;

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
