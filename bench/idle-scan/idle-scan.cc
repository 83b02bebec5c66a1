// Idle cost of the scan loop: N active channels (100 unless told), freq 1, empty folders, 60 s
// of real time. Reports the scans made against the scans the intervals ask for, the folder
// listings the watch saved, the CPU time used as a percentage of one core and the resident
// memory at start and end.
//   usage: bench_idle_scan [SECONDS] [CHANNELS]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "platform/stop-signals.h"

using namespace vellumora;

static long RssKb() {
  std::ifstream in("/proc/self/statm");
  long pages = 0, resident = 0;
  in >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

static double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
         ru.ru_stime.tv_usec / 1e6;
}

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int channels = argc > 2 ? std::atoi(argv[2]) : 100;
  char dirTemplate[] = "/tmp/vellumora-bench.XXXXXX";
  std::string root = mkdtemp(dirTemplate);
  setenv("VELLUMORA_COMMON_APPDATA", root.c_str(), 1);
  C_Kernel kernel;
  long scans = 0;
  kernel.logCallback = [&](const std::string& t, bool) {
    if (t.rfind("ERROR", 0) == 0 && t.find("Ini-file") == std::string::npos)
      std::fprintf(stderr, "%s\n", t.c_str());
  };
  kernel.channels.assign(channels + 1, EmptyChannel());
  for (int i = 0; i < channels; ++i) {
    PrintChannel& ch = kernel.channels[i];
    std::string folder = root + "/in" + std::to_string(i);
    std::filesystem::create_directories(folder);
    WriteField(ch.sourceFolder, folder);
    WriteField(ch.printerName, "capture");
    ch.active = 1;
    ch.freq = 1;
    for (int d = 0; d < 7; ++d) {
      std::copy_n("00:00 00:00 ", 12, ch.schedule[d]);
      ch.dayActive[d] = 1;
    }
  }
  kernel.channelCount = channels;
  kernel.iniFileAge.mtimeNs = 1;  // no settings file: keep the ten-second reload quiet
  // As the program runs without windows: one wait until the next second.
  kernel.idleWaitMs = WaitForStopWake;
  std::thread stopper([&] {
    for (int s = 0; s < seconds; ++s) {
      std::this_thread::sleep_for(std::chrono::seconds(1));
      if ((s + 1) % 30 == 0) std::fprintf(stderr, "t=%ds rss=%ldkB\n", s + 1, RssKb());
    }
    stopRequested = 1;
    WakeStopWaiters();
  });
  const long rssStart = RssKb();
  const double cpuStart = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  kernel.StartScanning();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpuStart;
  const long rssEnd = RssKb();
  stopper.join();
  scans = static_cast<long>(kernel.scansMade);
  // The first scans come one second after the start: a channel of freq 1 is due
  // floor(wall) times.
  const long expected = static_cast<long>(wall) * channels;
  std::printf(
      "channels=%d wall=%.1fs scans=%ld expected=%ld (%.1f %%) listings_skipped=%llu cpu=%.3fs "
      "cpu%%=%.3f rss_start=%ldkB rss_end=%ldkB\n",
      channels, wall, scans, expected, 100.0 * scans / std::max(expected, 1L),
      static_cast<unsigned long long>(kernel.listingsSkipped), cpu, 100.0 * cpu / wall,
      rssStart, rssEnd);
  std::filesystem::remove_all(root);
}
