// Processor time counters from /proc/stat.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <charconv>

#include "platform/cpu-load.h"

namespace vellumora {

std::optional<CpuTimes> ParseProcStat(std::string_view text) {
  // The aggregate line comes first: "cpu  user nice system idle iowait irq softirq steal ...".
  if (text.substr(0, 4) != "cpu ") return std::nullopt;
  std::string_view line = text.substr(0, text.find('\n'));
  line.remove_prefix(4);
  std::array<uint64_t, 8> v{};
  std::size_t count = 0;
  while (count < v.size()) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.empty()) break;
    auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), v[count]);
    if (ec != std::errc()) return std::nullopt;
    line.remove_prefix(static_cast<std::size_t>(end - line.data()));
    ++count;
  }
  if (count < 4) return std::nullopt;  // user, nice, system and idle are always there
  const uint64_t user = v[0], nice = v[1], system = v[2], idle = v[3], iowait = v[4], irq = v[5],
                 softirq = v[6], steal = v[7];
  CpuTimes t;
  t.idle = idle + iowait;
  t.kernel = system + irq + softirq + steal + t.idle;
  t.user = user + nice;
  return t;
}

std::optional<CpuTimes> ReadCpuTimes() {
  int fd = ::open("/proc/stat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // The first line is all we need; 512 bytes hold it with room to spare.
  char buffer[512];
  ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  return ParseProcStat(std::string_view(buffer, static_cast<std::size_t>(n)));
}

}  // namespace vellumora
