// Latency from a complete file to its job: 100 raw channels (scan interval 1 s) printing to a
// paused print server queue; files are dropped (renamed in, complete at once) at random moments
// into random channels. For each file: the time from its drop until the print server accepted
// its job, less the time the file had to wait for its channel's next scan (the next once-a-
// second pass of the loop). Reports the 50th and 95th percentiles of that, and of the plain
// drop-to-accepted time.
//   usage: latency_bench PRINTER [FILES] [CHANNELS]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/outputs.h"

namespace fs = std::filesystem;
using namespace vellumora;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: latency_bench PRINTER [FILES] [CHANNELS]\n");
    return 2;
  }
  const std::string printer = argv[1];
  const int files = argc > 2 ? std::atoi(argv[2]) : 200;
  const int channels = argc > 3 ? std::atoi(argv[3]) : 100;

  char pattern[] = "/tmp/vellumora-latency.XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path work = pattern;
  setenv("VELLUMORA_COMMON_APPDATA", work.c_str(), 1);
  fs::create_directories(work / "stage");

  C_Kernel kernel(work.string());
  kernel.logCallback = [](const std::string& text, bool) {
    if (text.rfind("ERROR", 0) == 0 && text.find("Ini-file") == std::string::npos)
      std::fprintf(stderr, "log: %s\n", text.c_str());
  };
  WatermarkBitmap watermark;
  Outputs outputs(kernel, watermark);
  kernel.output = &outputs;
  kernel.settings.NoRawFilePrinting = false;
  kernel.iniFileAge.mtimeNs = 1;  // no settings file: keep the ten-second reload quiet
  kernel.channels.assign(channels + 1, EmptyChannel());
  for (int i = 0; i < channels; ++i) {
    PrintChannel& ch = kernel.channels[i];
    fs::create_directories(work / ("in" + std::to_string(i)));
    WriteField(ch.sourceFolder, (work / ("in" + std::to_string(i))).string());
    WriteField(ch.printerName, printer);
    ch.active = 1;
    ch.freq = 1;
    ch.copies = 1;
    ch.deleteFile = 1;
    for (int d = 0; d < kScheduleDays; ++d) {
      std::copy_n("00:00 00:00 ", kScheduleEntrySize, ch.schedule[d]);
      ch.dayActive[d] = 1;
    }
  }
  kernel.channelCount = channels;

  // The start of each once-a-second pass: the load gate measures the load there.
  std::mutex mutex;
  std::vector<Clock::time_point> passes;
  kernel.settings.MaxCPUload = 99;
  kernel.readCpuTimes = [&]() -> std::optional<CpuTimes> {
    std::lock_guard lock(mutex);
    passes.push_back(Clock::now());
    return std::nullopt;
  };
  // One file at a time per channel: the channel's drop is the file whose job was accepted.
  std::vector<Clock::time_point> dropped(channels), accepted(channels);
  std::vector<std::pair<double, double>> results;  // (latency, less the wait for the scan)
  std::vector<bool> waiting(channels, false);
  kernel.dispatchProbe = [&](C_Kernel::DispatchPoint point) {
    if (point != C_Kernel::DispatchPoint::kPrinted) return;
    const auto now = Clock::now();
    std::lock_guard lock(mutex);
    const int ch = kernel.currentChannelIndex;
    if (ch < 0 || ch >= channels || !waiting[ch]) return;
    waiting[ch] = false;
    const auto next = std::lower_bound(passes.begin(), passes.end(), dropped[ch]);
    const double total = std::chrono::duration<double>(now - dropped[ch]).count();
    const double wait =
        next == passes.end() ? 0 : std::chrono::duration<double>(*next - dropped[ch]).count();
    results.emplace_back(total, total - wait);
  };

  std::thread dropper([&] {
    std::mt19937 random(42);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (int n = 0; n < files; ++n) {
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % 300));
      int ch = static_cast<int>(random() % channels);
      const fs::path staged = work / "stage" / ("file" + std::to_string(n) + ".prn");
      std::ofstream(staged) << std::string(10240, 'x');
      {
        std::lock_guard lock(mutex);
        while (waiting[ch]) ch = (ch + 1) % channels;
        waiting[ch] = true;
        dropped[ch] = Clock::now();
        fs::rename(staged, work / ("in" + std::to_string(ch)) / staged.filename());
      }
    }
    for (int s = 0; s < 30; ++s) {
      {
        std::lock_guard lock(mutex);
        if (static_cast<int>(results.size()) >= files) break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    stopRequested = 1;
  });
  kernel.StartScanning();
  dropper.join();

  auto percentile = [](std::vector<double> v, double p) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
  };
  std::vector<double> total, net;
  for (auto [t, n] : results) total.push_back(t), net.push_back(n);
  std::printf("files accepted: %zu of %d\n", results.size(), files);
  std::printf("drop to accepted:              p50 %.3f s  p95 %.3f s\n", percentile(total, 0.5),
              percentile(total, 0.95));
  std::printf("less the wait for the scan:    p50 %.3f s  p95 %.3f s (goal p95 <= 0.3 s)\n",
              percentile(net, 0.5), percentile(net, 0.95));
  std::error_code ec;
  fs::remove_all(work, ec);
  return static_cast<int>(results.size()) == files ? 0 : 1;
}
