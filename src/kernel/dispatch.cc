// ProcessFile: one found file through the completeness test, its output and its disposal.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "kernel/archive-name.h"
#include "kernel/extension-list.h"
#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "platform/file-disposal.h"
#include "platform/files.h"

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
  bool rejected = false;
  bool quietSuccess = false;

  CompletenessTracker::Result check = inputCompleteness_.Check(path, monotonicMs());
  if (!check.complete) {
    statusMessage = "Input file has not yet been completed. Retrying in next cycle.";
    jobFailed = true;
  } else {
    emptyFile = check.size < 2;
    // The descriptor the completeness test opened is the only way any output reads the file.
    inputHandle = check.file.get();
    if (!emptyFile) {
      if (PrintsToScreen(printerName)) {
        // Without windows (service, headless) the screen refuses the file, so no picture is
        // disposed of without having been shown.
        if (InServiceMode() || windows == nullptr) {
          statusMessage = "Screen is not accessible in service modus.";
          jobFailed = true;
        } else if (ExtensionInList(kBitmapExtensions, path)) {
          if (!windows->ShowPicture(check.file.get(), path)) {
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
        const OutputReport report =
            PrintRecorded(check.file.get(), check.identity, path, printerName, name, &quietSuccess);
        switch (report.result) {
          case OutputResult::kPrinted:
            jobStatus = 2;
            break;
          case OutputResult::kSkipped:
            jobStatus = 0;
            break;
          case OutputResult::kRejected:
            // The output logged why; the file can never print and is disposed of silently.
            rejected = true;
            if (!report.message.empty()) Log(ReadableText(report.message));
            break;
          case OutputResult::kRetry:
            jobFailed = true;
            statusMessage = report.message;
            break;
          case OutputResult::kStopped:
            stoppedEarly = true;
            break;
        }
        copiesLeft = 0;
      }
    }
    inputHandle = -1;
    check.file.Close();
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
    } else if (rejected || quietSuccess) {
      statusMessage.clear();
    } else if (jobStatus == 2) {
      statusMessage = logName ? "File " + name + " was successfully sent to printer "
                              : "File was successfully sent to printer ";
      if (settings.LogPrinter) statusMessage += printerName;
    } else {
      statusMessage =
          logName ? "File " + name + " was ignored by user" : "File was ignored by user";
    }
    if (DisposeOfFile(path, name, check.identity)) {
      ForgetPrinted(check.identity);
    } else {
      jobFailed = true;
    }
    if (windows && !screenShown) windows->ClearPreview();
  }

  if (jobFailed && testMode) DeleteTestFile(path);
  if (!jobFailed || testMode) inputCompleteness_.Done(path);
  if (!statusMessage.empty()) Log(ReadableText(statusMessage));
  return !jobFailed;
}

void C_Kernel::EnsureLedger() {
  if (ledger_.loaded()) return;
  std::string error;
  if (!ledger_.Load(&error)) Log("ERROR " + ReadableText(error));
}

bool C_Kernel::SaveLedger(bool durable) {
  std::string error;
  if (ledger_.Save(durable, &error)) return true;
  Log("ERROR The record of printed files couldn't be written: " + ReadableText(error));
  return false;
}

void C_Kernel::ForgetPrinted(const FileIdentity& file) {
  if (!ledger_.Find(file)) return;
  ledger_.Remove(file);
  SaveLedger(false);  // a lost removal is harmless: an entry whose file is gone is pruned
}

OutputReport C_Kernel::PrintRecorded(int fd, const FileIdentity& identity, const std::string& path,
                                     const std::string& printerName, const std::string& name,
                                     bool* quietSuccess) {
  EnsureLedger();
  int32_t copies = std::max<int32_t>(currentChannel.copies, 1);

  if (LedgerEntry* entry = ledger_.Find(identity)) {
    if (!entry->printed) {
      // The last attempt created jobs but did not see them through (a failure, a stop, a
      // crash): what the print server holds of them counts, the rest is cancelled.
      int32_t held = 0;
      bool unanswered = false;
      std::vector<LedgerJob> keep;
      for (const LedgerJob& job : entry->jobs) {
        if (job.confirmed) {
          // Confirmed whole: printed, whatever the server remembers of it now.
          held += job.copies;
          keep.push_back(job);
          continue;
        }
        switch (output->AskJob(entry->printer, job.id)) {
          case JobFate::kHeld:
            held += job.copies;
            keep.push_back(job);
            break;
          case JobFate::kBroken:
            output->CancelJob(entry->printer, job.id);
            break;
          case JobFate::kGone:
            break;
          case JobFate::kUnknown:
            unanswered = true;
            keep.push_back(job);
            break;
        }
      }
      entry->jobs = std::move(keep);
      if (unanswered) {
        return {OutputResult::kRetry, "ERROR The print server cannot say whether file " + name +
                                          " was printed before. Retrying in next cycle."};
      }
      if (held >= copies) {
        entry->printed = true;
      } else if (held == 0) {
        ledger_.Remove(identity);
      } else {
        copies -= held;  // only the copies still missing
      }
      SaveLedger(true);
    }
    if (LedgerEntry* printed = ledger_.Find(identity); printed && printed->printed) {
      // Printed before, not yet disposed of: never printed again. Once the failure was
      // reported, a later successful disposal needs no second success line.
      *quietSuccess = printed->reported;
      return {OutputResult::kPrinted, {}};
    }
  }

  OutputJob job;
  job.fd = fd;
  job.size = identity.size;
  job.path = path;
  job.name = name;
  job.channel = &currentChannel;
  job.printerName = printerName;
  job.copies = copies;
  job.ownThread = settings.UsePDFThread && !InServiceMode();
  job.log = [this](const std::string& line) { Log(line); };
  // The outputs ask this between pages, rows and chunks: a long job that makes progress keeps
  // the service's watchdog content (from any of the output's threads).
  job.stopRequested = [this] {
    if (service) service->KeepAlive();
    return StopAsked();
  };
  job.jobCreated = [&, this](const std::string& printer, int32_t id, int32_t jobCopies) {
    LedgerEntry* e = ledger_.Find(identity);
    if (!e) {
      LedgerEntry fresh;
      fresh.file = identity;
      fresh.channel = currentChannelIndex;
      fresh.printer = printer;
      fresh.path = path;
      e = &ledger_.Add(std::move(fresh));
    }
    e->jobs.push_back({id, jobCopies, false});
    // On disk before the job's data goes out; a job that cannot be recorded is not sent.
    if (!SaveLedger(true)) {
      e->jobs.pop_back();
      return false;
    }
    if (dispatchProbe) dispatchProbe(DispatchPoint::kJobCreated);
    return true;
  };
  job.jobConfirmed = [&, this](const std::string&, int32_t id) {
    if (LedgerEntry* e = ledger_.Find(identity)) {
      for (LedgerJob& j : e->jobs)
        if (j.id == id) j.confirmed = true;
      SaveLedger(true);  // a confirmed job must never be printed again, also after a crash
    }
  };

  OutputReport report;
  if (ExtensionInList(kPdfExtensions, path)) {
    report = output->PrintPdfFile(job);
  } else if (ExtensionInList(kBitmapExtensions, path)) {
    report = output->PrintBitmapFile(job);
  } else if (ExtensionInList(kTextExtensions, path)) {
    report = output->PrintTextFile(job);
  } else {
    report = output->PrintRawFile(job);
  }
  if (report.result == OutputResult::kPrinted) {
    // No write of its own: the jobs are on disk as confirmed, which after a crash counts the
    // same, and the removal after the disposal (or the next save) writes the mark.
    if (LedgerEntry* e = ledger_.Find(identity)) e->printed = true;
    if (dispatchProbe) dispatchProbe(DispatchPoint::kPrinted);
  }
  return report;
}

void C_Kernel::PruneLedger() {
  EnsureLedger();
  const std::size_t before = ledger_.entries().size();
  // Only what is certainly gone or changed: a file that cannot be looked at just now (a share
  // that is away) keeps its entry, or it would print again when it comes back.
  std::erase_if(ledger_.entries(), [](const LedgerEntry& e) {
    FileIdentity now;
    switch (CheckPath(e.path, e.file, &now)) {
      case PathCheck::kGone:
      case PathCheck::kOtherFile:
        return true;
      case PathCheck::kSameFile:
        return now != e.file;  // written over since: a new document
      case PathCheck::kUnknown:
        return false;
    }
    return false;
  });
  if (ledger_.entries().size() != before) SaveLedger(false);
}

void C_Kernel::CancelIncomingJobs() {
  EnsureLedger();
  if (output == nullptr) return;
  for (LedgerEntry& e : ledger_.entries()) {
    if (e.printed) continue;
    for (const LedgerJob& job : e.jobs)
      if (!job.confirmed && output->AskJob(e.printer, job.id) == JobFate::kBroken)
        output->CancelJob(e.printer, job.id);
  }
}

bool C_Kernel::DisposeOfFile(const std::string& path, const std::string& name,
                             const FileIdentity& identity) {
  LedgerEntry* printed = ledger_.loaded() ? ledger_.Find(identity) : nullptr;
  // Once printed, a disposal failure is reported once per file, not at every scan.
  auto reportFailure = [&](const std::string& why) {
    if (printed && printed->printed) {
      if (!printed->reported)
        Log("ERROR File " + ReadableText(name) + " was printed but " + why +
            ". It will not be printed again; its disposal is retried at each scan.");
      printed->reported = true;
    } else {
      Log("ERROR File " + ReadableText(name) + ": " + why);
    }
  };
  // The name may hold another file by now: only the file that was printed goes. Looked at
  // again before every attempt, as the retries take seconds.
  enum class Look { kGo, kGone, kStop, kWait };
  auto look = [&]() {
    if (identity.inode == 0) return Look::kGo;
    switch (CheckPath(path, identity)) {
      case PathCheck::kSameFile:
        return Look::kGo;
      case PathCheck::kGone:
        return Look::kGone;
      case PathCheck::kOtherFile:
        reportFailure("was replaced by another file meanwhile, which stays");
        return Look::kStop;
      case PathCheck::kUnknown:
        return Look::kWait;
    }
    return Look::kWait;
  };
  if (currentChannel.moveFile == 1) {
    std::string dir = ReadField(currentChannel.moveDir);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir.empty()) {
      // Never the root folder by accident: a channel that archives must name its archive.
      reportFailure("couldn't be moved: the channel names no archive folder");
      return false;
    }
    std::string target = dir + "/" + name;
    std::string error = "the file cannot be looked at";
    for (int attempt = 1; attempt <= kMoveAttempts; ++attempt) {
      const Look now = look();
      if (now == Look::kGone) return true;
      if (now == Look::kStop) return false;
      if (now == Look::kWait) {
        if (StopAsked()) break;
        Log("Retrying to move printed file to " + ReadableText(target));
        WaitPumping(kMoveRetryMs);
        continue;
      }
      // Nothing in the archive is ever replaced: a taken name makes the time-stamped one,
      // made afresh for each attempt, and the check and the move are one step.
      MoveResult moved = MoveFileNoReplace(path, target, &error);
      if (moved == MoveResult::kTargetExists) {
        target = dir + "/" + ArchiveClashName(ArchivePrefix(localClock()), name);
        moved = MoveFileNoReplace(path, target, &error);
        if (moved == MoveResult::kTargetExists) error = "the name is taken in the archive folder";
      }
      if (moved == MoveResult::kMoved) return true;
      if (StopAsked()) break;
      if (attempt == 1 && settings.DebugMode) Log("DEBUG-INFO " + ReadableText(error));
      Log("Retrying to move printed file to " + ReadableText(target));
      WaitPumping(kMoveRetryMs);
    }
    reportFailure("couldn't be moved to " + ReadableText(target) + ": " + ReadableText(error));
    return false;
  }
  for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
    const Look now = look();
    if (now == Look::kGone) return true;
    if (now == Look::kStop) return false;
    if (now == Look::kGo && RemoveFile(path)) return true;
    if (StopAsked()) break;
    Log("Retrying to delete file ...");
    WaitPumping(kDeleteRetryMs);
  }
  reportFailure("couldn't be deleted");
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
