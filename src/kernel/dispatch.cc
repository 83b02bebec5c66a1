// ProcessFile: one found file through the completeness test, its output and its disposal.
#include <cstdio>
#include <string>

#include "kernel/extension-list.h"
#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "platform/file-disposal.h"

namespace vellumora {

namespace {

constexpr int kMoveAttempts = 10;
constexpr int32_t kMoveRetryMs = 2000;
constexpr int kDeleteAttempts = 100;
constexpr int32_t kDeleteRetryMs = 1000;

// "yyyymmddhhnnsszzz ": what an archived file's name gets in front when the name is taken.
std::string ArchivePrefix(const LocalTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%03d ", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.millisecond);
  return text;
}

}  // namespace

bool C_Kernel::ProcessFile(const std::string& path, const std::string& printerName, bool testMode,
                           const std::string& name) {
  statusMessage.clear();
  jobFailed = false;
  bool screenShown = false;
  bool emptyFile = false;
  bool stoppedEarly = false;

  const CompletenessTracker::Result check = inputCompleteness_.Check(path, monotonicMs());
  if (!check.complete) {
    statusMessage = "Input file has not yet been completed. Retrying in next cycle.";
    jobFailed = true;
  } else {
    emptyFile = check.size < 2;
    inputHandle = -1;
    if (!emptyFile) {
      if (printerName.find("SCREEN") != std::string::npos) {
        // Without windows (service, headless) the screen refuses the file, so no picture is
        // disposed of without having been shown.
        if (InServiceMode() || windows == nullptr) {
          statusMessage = "Screen is not accessible in service modus.";
          jobFailed = true;
        } else if (ExtensionInList(kBitmapExtensions, path)) {
          if (!windows->ShowPicture(path)) {
            windows->HidePicture();
            Log("ERROR Corrupted graphic file " + ReadableText(path));
          }
          screenShown = true;
          jobFailed = false;
        } else {
          statusMessage = "Desktop screen can only show bitmap pictures";
          jobFailed = true;
        }
      } else if (output == nullptr) {
        statusMessage =
            "ERROR No printer output available, file " + name + " stays in the input folder";
        jobFailed = true;
      } else if (!output->OpenPrinterCheck(printerName)) {
        jobFailed = true;
        statusMessage = "ERROR The target printer " + printerName + " is currently not defined";
      } else if (!output->SelectPrinter(printerName)) {
        statusMessage = "ERROR The target printer " + printerName + " is currently not defined.";
        jobFailed = true;
      } else {
        copiesLeft = currentChannel.copies;
        jobStatus = 2;
        OutputEnd end;
        if (ExtensionInList(kPdfExtensions, path)) {
          end = output->PrintPdfFile(path, printerName, name,
                                     settings.UsePDFThread && !InServiceMode());
        } else if (ExtensionInList(kBitmapExtensions, path)) {
          end = output->PrintBitmapFile(path, copiesLeft, 0, 0, name);
        } else if (ExtensionInList(kTextExtensions, path)) {
          end = output->PrintTextFile(path, copiesLeft, name);
        } else {
          end = output->PrintRawFile(path, printerName, name);
        }
        stoppedEarly = end == OutputEnd::kStopped;
      }
    }
    if (inputHandle >= 0) {
      CloseFileHandle(inputHandle);
      inputHandle = -1;
    }
  }

  // An output that a stop ended before the whole job was sent: the file stays where it is,
  // and no success is reported.
  if (stoppedEarly) jobFailed = true;

  if (!jobFailed) {
    const bool logName = settings.LogFilename;
    if (screenShown) {
      statusMessage = logName ? "File " + name + " was successfully sent to screen" : "";
    } else if (emptyFile) {
      statusMessage = logName ? "Empty file " + name + " was ignored" : "Empty file was ignored ";
    } else if (jobStatus == 2) {
      statusMessage = logName ? "File " + name + " was successfully sent to printer "
                              : "File was successfully sent to printer ";
      if (settings.LogPrinter) statusMessage += printerName;
    } else {
      statusMessage =
          logName ? "File " + name + " was ignored by user" : "File was ignored by user";
    }
    if (!DisposeOfFile(path, name)) jobFailed = true;
    if (windows && !screenShown) windows->ClearPreview();
  }

  if (jobFailed && testMode) DeleteTestFile(path);
  if (!jobFailed || testMode) inputCompleteness_.Done(path);
  if (!statusMessage.empty()) Log(ReadableText(statusMessage));
  return !jobFailed;
}

bool C_Kernel::DisposeOfFile(const std::string& path, const std::string& name) {
  if (currentChannel.moveFile == 1) {
    const std::string dir = ReadField(currentChannel.moveDir);
    std::string target = dir + "/" + name;
    if (PathExists(target)) target = dir + "/" + ArchivePrefix(localClock()) + name;
    for (int attempt = 1; attempt <= kMoveAttempts; ++attempt) {
      std::string error;
      if (MoveFileReplacing(path, target, &error)) return true;
      if (StopAsked()) return false;
      if (attempt == 1 && settings.DebugMode) Log("DEBUG-INFO " + ReadableText(error));
      Log("Retrying to move printed file to " + ReadableText(target));
      WaitPumping(kMoveRetryMs);
    }
    return false;
  }
  for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
    if (RemoveFile(path)) return true;
    if (StopAsked()) return false;
    Log("Retrying to delete file ...");
    WaitPumping(kDeleteRetryMs);
  }
  return false;
}

// A test printout's file never stays behind, whatever became of the printout.
void C_Kernel::DeleteTestFile(const std::string& path) {
  for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
    if (RemoveFile(path) || StopAsked()) return;
    WaitPumping(kDeleteRetryMs);
  }
}

}  // namespace vellumora
