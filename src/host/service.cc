// The service object. Until the systemd integration lands the service is never installed, so
// every start is a desktop start.
#include "host/service.h"

#include "platform/paths.h"

namespace vellumora {

C_VAZService::C_VAZService(std::string name, bool autoStartFlag)
    : autoStart(autoStartFlag), serviceName(name), displayName(std::move(name)) {
  std::string dir = CurrentDirectory();
  executablePath = dir + (dir.size() > 1 ? "/" : "") + serviceName;
}

bool C_VAZService::RunDispatcher() {
  // No service manager hands us the process yet: this start was not the service's.
  lastError = "StartServiceCtrlDispatcher was not possible";
  dispatcherMode = false;
  return false;
}

}  // namespace vellumora
