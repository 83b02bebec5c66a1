// C_VAZService: what the program knows about, and does with, its system service.
#pragma once

#include <cstdint>
#include <string>

namespace vellumora {

class C_KLog;

class C_VAZService {
 public:
  C_VAZService(std::string serviceName, bool autoStart);

  // Hands the process to the service manager. Returns false at once when this process was not
  // started by the service manager; true after the service has run and stopped.
  bool RunDispatcher();

  bool autoStart;
  int32_t checkPoint = 1;
  std::string serviceName;
  std::string displayName;
  std::string executablePath;
  std::string accountName;
  std::string accountPassword;
  int32_t currentState = 0;
  int32_t lastControl = 0;
  C_KLog* log = nullptr;  // attached by the start-up

  bool isWindowsNT = false;  // a service manager is available
  bool installed = false;
  bool dispatcherMode = false;
  bool running = false;
  bool adminRights = false;
  std::string lastError;
};

}  // namespace vellumora
