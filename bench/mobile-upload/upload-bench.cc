// Mobile upload load: many concurrent clients log in and upload files to a running Vellumora
// over loopback, speaking only the protocol's lines. Reports uploads per second, the time
// until the channel's input folder is empty again (every upload printed), and the server
// process's peak memory and threads.
//   usage: bench_mobile_upload PORT_A PID FOLDER CLIENTS FILES BYTES NAME PIN
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mobile/wire-client.h"

namespace {

using Clock = std::chrono::steady_clock;
using vellumora::test::WireClient;

// VmRSS (kB) and Threads of a process, from /proc.
void Sample(int pid, long* rssKb, long* threads) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") status >> *rssKb;
    if (key == "Threads:") status >> *threads;
    std::getline(status, key);
  }
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr, "usage: %s PORT_A PID FOLDER CLIENTS FILES BYTES NAME PIN\n", argv[0]);
    return 2;
  }
  const int portA = std::atoi(argv[1]);
  const int pid = std::atoi(argv[2]);
  const std::filesystem::path folder = argv[3];
  const int clients = std::atoi(argv[4]);
  const int files = std::atoi(argv[5]);
  const std::string payload(static_cast<std::size_t>(std::atol(argv[6])), 'v');
  const std::string name = argv[7], pin = argv[8];

  // One login admits the uploads of this address for the next 30 minutes.
  WireClient a(portA);
  a.Send("HelloVellumora " + name + "#" + pin);
  const std::string welcome = a.Line();
  if (welcome.rfind("201 Welcome back", 0) != 0) {
    std::fprintf(stderr, "login failed: %s\n", welcome.c_str());
    return 1;
  }

  std::atomic<bool> sampling{true};
  long peakRss = 0, peakThreads = 0;
  std::thread sampler([&] {
    while (sampling.load()) {
      long rss = 0, threads = 0;
      Sample(pid, &rss, &threads);
      peakRss = std::max(peakRss, rss);
      peakThreads = std::max(peakThreads, threads);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  std::atomic<int> completed{0}, refusedConnections{0}, failed{0};
  const auto start = Clock::now();
  std::vector<std::thread> workers;
  for (int c = 0; c < clients; ++c) {
    workers.emplace_back([&, c] {
      int next = 0;
      int attempts = 0;
      while (next < files && attempts < 10000) {
        WireClient b(portA + 1);
        // A connection beyond the server's limit is closed at once: try again shortly.
        while (next < files) {
          const std::string file = "c" + std::to_string(c) + "-" + std::to_string(next) + ".prn";
          b.Send("FileIsNext CH[" + folder.filename().string() + "] " + file);
          b.Send("FileSize " + std::to_string(payload.size()));
          if (b.Line(30000) != "200 OK Waiting for file transfer ...") break;
          b.SendRaw(payload);
          if (b.Line(30000) != "200 File " + file + " completed") {
            ++failed;
            break;
          }
          ++completed;
          ++next;
        }
        if (next < files) {
          ++refusedConnections;
          ++attempts;
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
      }
    });
  }
  for (auto& w : workers) w.join();
  const auto uploaded = Clock::now();

  // Every upload printed: the channel disposes of a file once the print server has its job.
  auto remaining = [&] {
    int n = 0;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator(folder, ec)) (void)e, ++n;
    return n;
  };
  while (remaining() > 0 && Seconds(Clock::now() - uploaded) < 600)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto printed = Clock::now();
  sampling = false;
  sampler.join();

  const int total = clients * files;
  std::printf("uploads: %d of %d completed, %d failed, %d connections refused and retried\n",
              completed.load(), total, failed.load(), refusedConnections.load());
  std::printf("upload time: %.2f s, %.0f uploads/s (goal >= 200)\n", Seconds(uploaded - start),
              completed.load() / Seconds(uploaded - start));
  std::printf("until the last file was printed: %.2f s (input folder empty: %s)\n",
              Seconds(printed - start), remaining() == 0 ? "yes" : "no");
  std::printf("server peak RSS: %.1f MiB, peak threads: %ld\n", peakRss / 1024.0, peakThreads);
  return completed.load() == total ? 0 : 1;
}
