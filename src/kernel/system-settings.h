// The global settings, named by their keys in the settings file, with their defaults.
#pragma once

#include <cstdint>
#include <string>

namespace vellumora {

struct SystemSettings {
  bool StartUpCheck = false;
  std::string DefaultFileFolder;
  int32_t MaxCPUload = 100;
  bool UsePDFThread = false;
  bool NoWindowsGDI = false;
  bool DebugMode = false;
  bool DelFailedJobs = false;
  int32_t MaxLogSize = 1000;
  bool LogDate = true;
  bool LogTime = false;
  bool LogFilename = false;
  bool LogPrinter = false;
  bool NoRawFilePrinting = true;
  bool SortByDate = true;
  bool StartMinimized = false;
  int32_t WindowXPos = 50;
  int32_t WindowYPos = 50;
  int32_t WindowWidth = 1000;
  int32_t WindowHeight = 600;
  int32_t MainPanelWidth = 327;
  bool AlwaysPrint = false;
  int32_t PortA = 51042;
  bool Active = false;
};

}  // namespace vellumora
