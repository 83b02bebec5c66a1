// The output subsystem and the windows as the engine core sees them. The layers above
// implement these interfaces and the start-up installs them in the kernel; the engine core
// never includes their headers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kernel/print-channel.h"

namespace vellumora {

// How an output ended. The dispatcher alone turns this into log lines and disposal.
enum class OutputResult {
  kPrinted,   // every job went out and the print server holds it
  kRetry,     // failed; the file stays and is tried again at the next scan
  kRejected,  // the file can never print (damaged, unreadable as its type): disposed of
  kSkipped,   // the operator skipped it in the preview
  kStopped,   // a stop request came before anything was sent; the file stays
};

struct OutputReport {
  OutputResult result = OutputResult::kPrinted;
  // For kRetry and kRejected: the line the dispatcher logs (an "ERROR ..." text).
  std::string message;
};

// One input file on its way to an output. The descriptor is the one the completeness test
// opened (read-only use, regular file, not a link): outputs read the file only through it and
// never open its path again. They read with pread or seek first; the descriptor stays the
// dispatcher's and is closed by it.
struct OutputJob {
  int fd = -1;
  int64_t size = 0;  // bytes in the file when it was found complete
  std::string path;  // for messages only
  std::string name;  // the file's name alone: document titles, notes, job document names
  const PrintChannel* channel = nullptr;
  std::string printerName;
  int32_t copies = 1;
  bool ownThread = false;  // PDF: render on a worker thread while the caller pumps messages

  // The log sink for the output's own lines (errors as they occur, debug information).
  std::function<void(const std::string& line)> log;
  // True once a stop was requested: the output ends as soon as it can.
  std::function<bool()> stopRequested;
  // Called for each print server job the output creates, before any of its data is sent, with
  // the number of copies of the file that job carries, so that the dispatcher can record it: a
  // crash after that point must not print the file twice. False: the job could not be
  // recorded, and the output must cancel it and send nothing.
  std::function<bool(const std::string& printer, int32_t jobId, int32_t copies)> jobCreated;
  // Called once the print server confirmed that it holds the whole job: from then on the job
  // counts as printed even when the server has forgotten it.
  std::function<void(const std::string& printer, int32_t jobId)> jobConfirmed;

  void Log(const std::string& line) const {
    if (log) log(line);
  }
  bool StopAsked() const { return stopRequested && stopRequested(); }
  bool JobCreated(const std::string& printer, int32_t jobId, int32_t jobCopies) const {
    return !jobCreated || jobCreated(printer, jobId, jobCopies);
  }
  void JobConfirmed(const std::string& printer, int32_t jobId) const {
    if (jobConfirmed) jobConfirmed(printer, jobId);
  }
};

// What the print server says of a job that an earlier attempt created.
enum class JobFate {
  kHeld,     // accepted whole and waiting, printing or done: its copies count as printed
  kBroken,   // never completed its transfer (held as incoming), aborted or cancelled
  kGone,     // the server answered but does not know the job
  kUnknown,  // the server could not be asked
};

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

  // The outputs, one signature for all. Each ends or aborts any document it began before it
  // returns.
  virtual OutputReport PrintPdfFile(const OutputJob& job) = 0;
  virtual OutputReport PrintBitmapFile(const OutputJob& job) = 0;
  virtual OutputReport PrintTextFile(const OutputJob& job) = 0;
  virtual OutputReport PrintRawFile(const OutputJob& job) = 0;

  // Print server jobs that an earlier attempt (perhaps an earlier process) created.
  virtual JobFate AskJob(const std::string& printerName, int32_t jobId) = 0;
  // Cancels a job whose transfer never completed. False when the server could not be asked.
  virtual bool CancelJob(const std::string& printerName, int32_t jobId) = 0;
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
  // The full-screen picture window: shows the picture read from `fd` (the input file's
  // descriptor; `path` names it in messages and picks its decoder); false when it cannot be
  // decoded.
  virtual bool ShowPicture(int fd, const std::string& path) = 0;
  virtual void HidePicture() = 0;
};

}  // namespace vellumora
