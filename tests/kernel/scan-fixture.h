// A kernel in a sandbox with fake time, fake outputs, fake windows and a fake service, for the
// scan cycle and dispatch tests. Nothing here waits in real time.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "support/sandbox-dir.h"

namespace vellumora::test {

// Records what the dispatcher asked of the outputs; answers as configured.
class FakeOutput final : public OutputPort {
 public:
  explicit FakeOutput(C_Kernel& k) : kernel(k) {}

  struct Call {
    std::string kind;  // "pdf", "bitmap", "text", "raw"
    std::string path;
    std::string name;
    int32_t copies = 0;
    bool ownThread = false;
    int fd = -1;
    const OutputJob* job = nullptr;  // valid only inside onPrint
  };

  std::vector<std::string> PrinterNames() override { return {"Office"}; }
  bool OpenPrinterCheck(const std::string&) override { return printerKnownToSpooler; }
  bool SelectPrinter(const std::string&) override { return printerKnownToObject; }
  bool PrepareChannelPrinter(int32_t index) override {
    ++prepareCalls;
    kernel.currentChannel = kernel.channels[index];
    kernel.jobsInSpooler = queuedJobs;
    return prepareResult;
  }
  int32_t TestPrinterAccess(const std::string&) override { return 63; }

  OutputReport PrintPdfFile(const OutputJob& job) override { return Record("pdf", job); }
  OutputReport PrintBitmapFile(const OutputJob& job) override { return Record("bitmap", job); }
  OutputReport PrintTextFile(const OutputJob& job) override { return Record("text", job); }
  OutputReport PrintRawFile(const OutputJob& job) override { return Record("raw", job); }

  // Jobs are numbered from 1; each answers with the fate set for it (held by default).
  JobFate AskJob(const std::string&, int32_t jobId) override {
    asked.push_back(jobId);
    auto it = fates.find(jobId);
    return it == fates.end() ? JobFate::kHeld : it->second;
  }
  bool CancelJob(const std::string&, int32_t jobId) override {
    cancelled.push_back(jobId);
    return true;
  }

  std::vector<std::string> PrintedNames() const {
    std::vector<std::string> names;
    for (const Call& c : calls) names.push_back(c.name);
    return names;
  }

  C_Kernel& kernel;
  bool printerKnownToSpooler = true;
  bool printerKnownToObject = true;
  bool prepareResult = true;
  int32_t queuedJobs = 0;
  int prepareCalls = 0;
  std::vector<Call> calls;
  // Before onPrint: the print server jobs each output call creates (one per copy when
  // jobPerCopy, else one for all copies), announced as a real output announces them.
  bool createJobs = true;
  bool jobPerCopy = false;
  int32_t nextJobId = 1;
  int32_t confirmedBeforeTheEnd = 0;
  std::map<int32_t, JobFate> fates;
  std::vector<int32_t> asked;
  std::vector<int32_t> cancelled;
  // Runs inside every output call; may fail the job, ask for a stop, or change the result.
  std::function<OutputReport(const Call&)> onPrint;

 private:
  OutputReport Record(const char* kind, const OutputJob& job) {
    Call call{kind, job.path, job.name, job.copies, job.ownThread, job.fd, &job};
    calls.push_back(call);
    calls.back().job = nullptr;
    const int32_t firstJob = nextJobId;
    if (createJobs) {
      const int32_t n = jobPerCopy ? job.copies : 1;
      for (int32_t i = 0; i < n; ++i)
        job.JobCreated(job.printerName, nextJobId++, jobPerCopy ? 1 : job.copies);
    }
    OutputReport report = onPrint ? onPrint(call) : OutputReport{};
    // A real output confirms each job the server took whole: all of them when it printed,
    // the first `confirmedBeforeTheEnd` when it ended early.
    const int32_t confirmed = report.result == OutputResult::kPrinted
                                  ? nextJobId - firstJob
                                  : std::min(confirmedBeforeTheEnd, nextJobId - firstJob);
    for (int32_t id = firstJob; id < firstJob + confirmed; ++id)
      job.JobConfirmed(job.printerName, id);
    // A real output cancels the jobs of a failed attempt; a stopped one sent none.
    if (report.result == OutputResult::kRetry || report.result == OutputResult::kStopped)
      for (int32_t id = firstJob + confirmed; id < nextJobId; ++id)
        fates.try_emplace(
            id, report.result == OutputResult::kRetry ? JobFate::kBroken : JobFate::kGone);
    return report;
  }
};

class FakeWindows final : public WindowPort {
 public:
  void SetProcessing(bool processing) override { processingCalls.push_back(processing); }
  void ClearPreview() override { ++clearPreviewCalls; }
  bool ShowPicture(int, const std::string& path) override {
    shown.push_back(path);
    return pictureLoads;
  }
  void HidePicture() override { ++hideCalls; }

  std::vector<bool> processingCalls;
  int clearPreviewCalls = 0;
  int hideCalls = 0;
  bool pictureLoads = true;
  std::vector<std::string> shown;
};

class FakeService final : public ServicePort {
 public:
  bool Running() const override { return running; }
  bool StopEventSignalled() override {
    ++polls;
    return stopAfterPolls > 0 && polls >= stopAfterPolls;
  }
  void ReportStatus(int32_t state, int32_t checkPoint, int32_t waitHintMs, int32_t controls,
                    int32_t exitCode) override {
    reports.push_back({state, checkPoint, waitHintMs, controls, exitCode});
  }

  bool running = true;
  int polls = 0;
  int stopAfterPolls = 0;  // 0: never
  std::vector<std::vector<int32_t>> reports;
};

class ScanFixture : public ::testing::Test {
 protected:
  ScanFixture() {
    stopRequested = 0;
    quitRequested = 0;
    kernelIdle = 1;
    kernel->logCallback = [this](const std::string& text, bool replaceLast) {
      messages.push_back(text);
      if (replaceLast) replacingMessages.push_back(text);
    };
    kernel->monotonicMs = [this] { return nowMs; };
    kernel->sleepMs = [this](int32_t ms) {
      nowMs += ms;
      sleptMs += ms;
      if (onSleep) onSleep(ms);
    };
    kernel->localClock = [this] { return localTime; };
    kernel->readCpuTimes = [] { return std::nullopt; };
    kernel->output = &output;
    kernel->channels.assign(1, EmptyChannel());
    kernel->settings.SortByDate = false;
  }
  ~ScanFixture() override {
    stopRequested = 0;
    quitRequested = 0;
    kernelIdle = 1;
  }

  // A folder inside the sandbox, created.
  std::filesystem::path Folder(const std::string& name) {
    std::filesystem::path p = sandbox.path() / name;
    std::filesystem::create_directories(p);
    return p;
  }

  // Appends an active channel that is scanned all week, every second, printing to `printer`.
  PrintChannel& AddChannel(const std::filesystem::path& folder,
                           const std::string& printer = "Office") {
    PrintChannel ch = EmptyChannel();
    WriteField(ch.sourceFolder, folder.string());
    WriteField(ch.printerName, printer);
    ch.active = 1;
    ch.freq = 1;
    ch.copies = 1;
    for (int d = 0; d < kScheduleDays; ++d) {
      std::copy_n("00:00 00:00 ", kScheduleEntrySize, ch.schedule[d]);
      ch.dayActive[d] = 1;
    }
    kernel->channels.insert(kernel->channels.begin() + kernel->channelCount, ch);
    ++kernel->channelCount;
    return kernel->channels[kernel->channelCount - 1];
  }

  int Count(const std::string& message) const {
    return static_cast<int>(std::count(messages.begin(), messages.end(), message));
  }

  SandboxDir sandbox;
  std::unique_ptr<C_Kernel> kernel = MakeKernel(sandbox);
  FakeOutput output{*kernel};
  std::vector<std::string> messages;
  std::vector<std::string> replacingMessages;
  int64_t nowMs = 1000000;
  int64_t sleptMs = 0;
  std::function<void(int32_t)> onSleep;
  LocalTime localTime{2026, 1, 2, 3, 4, 5, 6, 4};  // Friday

 private:
  // The kernel's data directory goes into the sandbox.
  static std::unique_ptr<C_Kernel> MakeKernel(const SandboxDir& dir) {
    setenv("VELLUMORA_COMMON_APPDATA", dir.path().c_str(), 1);
    return std::make_unique<C_Kernel>();
  }
};

}  // namespace vellumora::test
