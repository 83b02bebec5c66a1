// The service object as the scan loop sees it. The host installs it in service mode; the
// engine core cannot include the host's headers. In desktop and headless runs there is none.
#pragma once

#include <cstdint>

namespace vellumora {

// Service states as reported to the service manager.
inline constexpr int32_t kServiceStopped = 1;
inline constexpr int32_t kServiceStopPending = 3;
inline constexpr int32_t kServiceRunning = 4;
// How long a stop may still take once it is pending (the file in hand finishing).
inline constexpr int32_t kStopPendingHintMs = 25000;

class ServicePort {
 public:
  virtual ~ServicePort() = default;
  // The service object's `running` flag: this process runs as the service.
  virtual bool Running() const = 0;
  // A zero-time wait on the stop, pause and continue events: true when the stop event was
  // signalled. A signalled pause or continue event is consumed and has no effect.
  virtual bool StopEventSignalled() = 0;
  virtual void ReportStatus(int32_t state, int32_t checkPoint, int32_t waitHintMs,
                            int32_t controlsAccepted, int32_t exitCode) = 0;
  // Tells the service manager's watchdog that the engine is alive. The scan loop and every
  // wait call it often; the service object decides how often that reaches the manager.
  virtual void KeepAlive() {}
  // The service manager asked the service to stop. Unlike the stop event it stays set: the
  // scan takes no further file and the outputs end at their next step.
  virtual bool StopControlReceived() const { return false; }
};

}  // namespace vellumora
