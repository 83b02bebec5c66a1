// The scan cycle: the engine's main loop, the weekday schedules, the load gate and the scan of
// one channel's folder.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kernel/extension-list.h"
#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "platform/folder-scan.h"
#include "platform/process-priority.h"

namespace vellumora {

int64_t MonotonicMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMilliseconds(int32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {

// The loop ticks every 100 ms; the channels are counted down once a second and the settings
// files looked at every ten seconds, both by the clock, so that the time the scans take does
// not stretch the intervals.
constexpr int32_t kPassMs = 100;
constexpr int64_t kSecondMs = 1000;
constexpr int64_t kReloadMs = 10000;
// Between channels the loop yields to the windows by pumping their messages. It does not
// sleep: a pause after every channel made a pass over n channels last n pauses, and every
// wake-up costs more processor time than the scan of an untouched empty folder. The process
// runs below normal priority, so a long pass never holds back other programs.

constexpr std::size_t kTimeKeySize = 20;  // "yyyy-mm-dd-hh-nn-zzz"

// The sort key's time part. Seconds are left out and the milliseconds are always 000, as with
// the two-second file times this order was made for: files of the same minute go by name.
std::string TimeKey(const LocalTime& t) {
  char key[32];
  std::snprintf(key, sizeof key, "%04d-%02d-%02d-%02d-%02d-000", t.year, t.month, t.day, t.hour,
                t.minute);
  return std::string(key, kTimeKeySize);
}

char FoldCase(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool FoldedLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(FoldCase(x)) < static_cast<unsigned char>(FoldCase(y));
  });
}

// Ascending, ignoring the case of ASCII letters; keys that differ only in case (two files
// a.pdf and A.PDF can live side by side here) are ordered byte by byte so neither is lost.
struct KeyOrder {
  bool operator()(const std::string& a, const std::string& b) const {
    if (FoldedLess(a, b)) return true;
    if (FoldedLess(b, a)) return false;
    return a < b;
  }
};

// Minutes of one "hh:nn" time inside a schedule entry, or -1 when its digits are not digits.
int ScheduleMinutes(const char* text) {
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(text[0]) || !digit(text[1]) || !digit(text[3]) || !digit(text[4])) return -1;
  return ((text[0] - '0') * 10 + (text[1] - '0')) * 60 + (text[3] - '0') * 10 + (text[4] - '0');
}

struct Period {
  bool valid = false;
  int startSec = 0;
  int stopSec = 0;
};

// A schedule entry "hh:nn hh:nn " as seconds of the day. An entry whose digits cannot be read
// (zero-filled, or stored while the editor held a single character) makes the day inactive.
Period ReadPeriod(const char (&entry)[kScheduleEntrySize]) {
  int start = ScheduleMinutes(entry);
  int stop = ScheduleMinutes(entry + 6);
  if (start < 0 || stop < 0) return {};
  return {true, start * 60, stop * 60};
}

}  // namespace

bool C_Kernel::InServiceMode() const {
  return service != nullptr && service->Running();
}

bool C_Kernel::StopAsked() const {
  return stopRequested.load() != 0 || quitRequested.load() != 0 ||
         (service != nullptr && service->StopControlReceived());
}

void C_Kernel::PumpMessages() {
  // Every wait of the engine passes here, so a service's watchdog hears from it while a long
  // job prints, and stops hearing from it when the engine hangs.
  if (service) service->KeepAlive();
  if (pumpMessages) pumpMessages();
}

void C_Kernel::WaitPumping(int32_t milliseconds) {
  for (int32_t left = milliseconds; left > 0; left -= 10) {
    PumpMessages();
    sleepMs(10);
  }
}

void C_Kernel::StartScanning() {
  stopRequested = 0;
  scanningActive = 1;
  LowerProcessPriority();
  if (InServiceMode()) ReadSettings(false);
  // Once the channels are known: what a crashed earlier run left in their folders.
  if (!leftoversSwept_) {
    leftoversSwept_ = true;
    SweepLeftovers();
  }
  if (onScanningStarts) onScanningStarts();
  // Files an earlier run printed but did not dispose of: forget those that are gone, and
  // cancel jobs whose transfer that run never completed.
  PruneLedger();
  CancelIncomingJobs();
  Log("Print channel scanning started, waiting for new print files now ...");

  int64_t nextSecond = monotonicMs() + kSecondMs;
  int64_t nextReload = monotonicMs() + kReloadMs;
  // quitRequested (SIGINT/SIGTERM) also ends the loop: unlike stopRequested it is never cleared,
  // so a signal that came before the loop began is not lost.
  while (stopRequested.load() == 0 && quitRequested.load() == 0 &&
         !(service != nullptr && service->StopEventSignalled())) {
    if (kernelIdle.load() == 1 && monotonicMs() >= nextSecond) {
      if (settings.MaxCPUload == 100 || MeasureCpuLoad() < settings.MaxCPUload) CountDownChannels();
      // The next second follows this one; a pass that took longer than a second is followed
      // at once, never by two in a row to catch up (no channel more often than its interval).
      nextSecond += kSecondMs;
      if (nextSecond < monotonicMs()) nextSecond = monotonicMs();
    }
    if (monotonicMs() >= nextReload) {
      ReadSettings(true);
      nextReload = monotonicMs() + kReloadMs;
    }
    PumpMessages();
    const int64_t untilNext = std::min(nextSecond, nextReload) - monotonicMs();
    if (idleWaitMs && !pumpMessages) {
      // Nothing to pump: one wait until the next second, cut short by a stop.
      idleWaitMs(static_cast<int32_t>(std::clamp<int64_t>(untilNext, 1, kSecondMs)));
    } else {
      // A tick, or less when the next second comes sooner.
      sleepMs(static_cast<int32_t>(std::clamp<int64_t>(untilNext, 1, kPassMs)));
    }
  }
  StopScanning();
}

void C_Kernel::CountDownChannels() {
  // The channel array may be replaced by messages pumped in between: index afresh.
  for (int32_t i = 0; i < channelCount && i < static_cast<int32_t>(channels.size()); ++i) {
    // No decrement below 0: a damaged record's countdown must not overflow.
    if (channels[i].countdown > 0 && --channels[i].countdown > 0) continue;
    if (channels[i].active == 1 && InScheduleNow(i)) ScanChannel(i, false);
    if (i < static_cast<int32_t>(channels.size())) channels[i].countdown = channels[i].freq;
    PumpMessages();
  }
}

void C_Kernel::StopScanning() {
  stopRequested = 1;
  if (InServiceMode()) {
    service->ReportStatus(kServiceStopPending, 1, kStopPendingHintMs, 1, 0);
    Log("Stop message sent to service ...", true);
  }
  scanningActive = 0;
  stopRequested = 0;
  if (onScanningStops) onScanningStops();
  Log("Print channel scanning stopped");
  // Without windows there is no setup dialog that could still need the mobile server and the
  // client registry (the service, a headless run): end the server and release the lists.
  if (windows == nullptr) {
    if (server) server->Stop();
    clientNames.clear();
    clientPins.clear();
    clientChannels.clear();
    clientStates.clear();
  }
}

bool C_Kernel::InScheduleNow(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(channels.size())) return false;
  const PrintChannel& ch = channels[index];
  const LocalTime now = localClock();
  const int today = now.weekday;
  const int yesterday = today == 0 ? 6 : today - 1;
  const int nowSec = now.hour * 3600 + now.minute * 60 + now.second;

  if (ch.dayActive[today]) {
    const Period p = ReadPeriod(ch.schedule[today]);
    if (p.valid) {
      if (p.startSec == p.stopSec) return true;
      if (nowSec >= p.startSec && (p.startSec > p.stopSec || nowSec < p.stopSec)) return true;
    }
  }
  // The overnight part of yesterday's period, even when today itself is disabled.
  if (ch.dayActive[yesterday]) {
    const Period p = ReadPeriod(ch.schedule[yesterday]);
    if (p.valid && p.startSec > p.stopSec && nowSec < p.stopSec) return true;
  }
  return false;
}

int32_t C_Kernel::MeasureCpuLoad() {
  int32_t load = 0;
  if (auto sample = readCpuTimes ? readCpuTimes() : std::nullopt) {
    // Signed differences: counters that went backwards (processors taken offline) give 0.
    const auto diff = [](uint64_t now, uint64_t before) {
      return static_cast<int64_t>(now - before);
    };
    const int64_t idle = diff(sample->idle, lastCpuSample_.idle);
    const int64_t kernel = diff(sample->kernel, lastCpuSample_.kernel);
    const int64_t user = diff(sample->user, lastCpuSample_.user);
    lastCpuSample_ = *sample;
    const int64_t total = kernel + user;
    if (total > 0)
      load = static_cast<int32_t>(std::clamp<int64_t>((total - idle) * 100 / total, 0, 100));
  }
  cpuLoad = load;
  return load;
}

void C_Kernel::ScanChannel(int32_t index, bool testMode) {
  if (index < 0 || index >= static_cast<int32_t>(channels.size())) return;
  currentChannelIndex = index;
  const std::string sourceFolder = ReadField(channels[index].sourceFolder);

  // The root folder (or an empty one) is never scanned.
  std::string folder = sourceFolder;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  scanFolder = folder + '/';
  if (folder.empty()) return;

  ++scansMade;
  FolderCheck check;
  if (TestFolderAccess(sourceFolder, true, &check) != 2) return;

  // A folder that held no file to take at its last listing, and in which nothing has happened
  // since, would be listed to the same nothing: it is not. Which files count depends on the
  // raw-printing setting, so a change of it makes every folder count as unknown again.
  const int32_t noRaw = settings.NoRawFilePrinting ? 1 : 0;
  if (!folderWatch_ || watchedNoRawFilePrinting_ != noRaw) {
    folderWatch_ = std::make_unique<FolderWatch>();
    watchedNoRawFilePrinting_ = noRaw;
  }
  if (folderWatch_->Quiet(scanFolder, check.identity)) {
    ++listingsSkipped;
    return;
  }
  kernelIdle = 0;

  // Watched from before the listing: whatever arrives while it runs is seen at the next scan.
  const bool watched = folderWatch_->Arm(scanFolder, check);
  std::vector<FolderEntry> entries;
  if (!ListRegularFiles(scanFolder, &entries, settings.SortByDate != 0)) {
    if (watched) folderWatch_->Forget(scanFolder);
    Log("Couldn't open input directory");
    kernelIdle = 1;
    return;
  }
  std::set<std::string, KeyOrder> keys;
  for (const FolderEntry& e : entries) {
    if (settings.NoRawFilePrinting && !ExtensionInList(kQualifyingExtensions, e.name)) continue;
    if (e.name == "Thumbs.db") continue;
    if (e.name.rfind(kUploadTempPrefix, 0) == 0) continue;  // an upload still arriving
    keys.insert(settings.SortByDate ? TimeKey(e.modified) + e.name : e.name);
  }
  entries.clear();
  // Files to take: the next scan lists the folder again whatever happens in it.
  if (watched && !keys.empty()) folderWatch_->Forget(scanFolder);

  bool first = true;
  for (const std::string& key : keys) {
    // A stop must not dispose of files the outputs never sent: take no further file.
    if (StopAsked()) break;
    const std::string name = settings.SortByDate ? key.substr(kTimeKeySize) : key;
    const std::string path = scanFolder + name;
    if (windows) {
      Log("Input file " + ReadableText(path) + " found - Processing started");
      windows->SetProcessing(true);
      WaitPumping(200);
    }
    if (first) {
      first = false;
      bool prepared;
      if (output) {
        prepared = output->PrepareChannelPrinter(index);
      } else {
        // No output layer: the dispatcher fails each printed file with its own message.
        currentChannel = channels[index];
        jobsInSpooler = 0;
        prepared = true;
      }
      if (!prepared) break;
    }
    if (jobsInSpooler > 0 && currentChannel.maxJobsInSpooler > 0 &&
        jobsInSpooler >= currentChannel.maxJobsInSpooler) {
      Log("DELAY in print channel " + std::to_string(index + 1) + " --- Too many (" +
          std::to_string(jobsInSpooler) + ") jobs in spooler");
      break;
    }
    if (ProcessFile(path, ReadField(currentChannel.printerName), testMode, name)) ++jobsInSpooler;
  }
  if (windows) windows->SetProcessing(false);
  if (!ledger().entries().empty()) PruneLedger();
  kernelIdle = 1;
}

}  // namespace vellumora
