// The output subsystem and the windows as the engine core sees them. The layers above
// implement these interfaces and the start-up installs them in the kernel; the engine core
// never includes their headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumora {

// How an output ended. Failures are reported through the kernel's jobFailed and
// statusMessage; kStopped says that a stop request ended the output before the whole job was
// sent, so the file must stay where it is without a success message.
enum class OutputEnd { kFinished, kStopped };

class OutputPort {
 public:
  virtual ~OutputPort() = default;

  // The printers of the machine as the printer object lists them, each in its own spelling.
  virtual std::vector<std::string> PrinterNames() = 0;
  // The spooler knows the printer and answers (opened and closed again).
  virtual bool OpenPrinterCheck(const std::string& printerName) = 0;
  // Makes the printer current in the printer object (exact, case-sensitive name) and measures
  // its page into the kernel's printerGeometry.
  virtual bool SelectPrinter(const std::string& printerName) = 0;
  // Copies channel `index` into currentChannel, reads the queue length and applies the
  // channel's driver settings. False skips the channel for this cycle.
  virtual bool PrepareChannelPrinter(int32_t index) = 0;
  // The access bit set: 1 open, 2 draw, 4..32 read and write back the driver defaults.
  virtual int32_t TestPrinterAccess(const std::string& printerName) = 0;

  virtual OutputEnd PrintPdfFile(const std::string& path, const std::string& printerName,
                                 const std::string& name, bool ownThread) = 0;
  virtual OutputEnd PrintBitmapFile(const std::string& path, int32_t copies, int32_t totalPages,
                                    int32_t pageNumber, const std::string& name) = 0;
  virtual OutputEnd PrintTextFile(const std::string& path, int32_t copies,
                                  const std::string& name) = 0;
  virtual OutputEnd PrintRawFile(const std::string& path, const std::string& printerName,
                                 const std::string& name) = 0;
};

// The desktop windows the engine core talks to while it scans; absent in service and headless
// runs.
class WindowPort {
 public:
  virtual ~WindowPort() = default;
  // The main window: disables its start/stop button and greys the load gauge while a file is
  // processed, enables them again afterwards.
  virtual void SetProcessing(bool processing) = 0;
  virtual void ClearPreview() = 0;
  // The full-screen picture window: shows the picture; false when it cannot be loaded.
  virtual bool ShowPicture(const std::string& path) = 0;
  virtual void HidePicture() = 0;
};

}  // namespace vellumora
