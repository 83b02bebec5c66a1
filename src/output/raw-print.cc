// PrintRawFile and the control code notation.
#include "output/raw-print.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "kernel/text-fields.h"
#include "output/outputs.h"
#include "platform/printers.h"

namespace vellumora {

namespace {
constexpr std::size_t kDataBuffer = 10000;
constexpr int kCodeCapacity = 128;
constexpr char kRawJobName[] = "Vellumora File";
constexpr char kRawFormat[] = "application/vnd.cups-raw";

// A decimal number as a lenient reader takes it: leading blanks, a sign, then the digits up to
// the first other character; no digits give 0.
long LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + (text[i] - '0');
  return negative ? -static_cast<long>(value) : static_cast<long>(value);
}
}  // namespace

std::string ExpandControlCodes(std::string_view text) {
  std::string out;
  int remaining = kCodeCapacity;
  std::size_t i = 0;
  while (i < text.size() && text[i] != '\0' && remaining > 0) {
    if (text[i] == '[') {
      const std::size_t close = text.find(']', i + 1);
      if (close == std::string_view::npos) return "";
      out.push_back(static_cast<char>(LeadingNumber(text.substr(i + 1, close - i - 1)) & 0xFF));
      remaining -= static_cast<int>(close - i + 1);
      i = close + 1;
    } else {
      out.push_back(text[i++]);
      --remaining;
    }
  }
  // What is sent ends at the first zero byte.
  return out.substr(0, out.find('\0'));
}

OutputEnd Outputs::PrintRawFile(const std::string& path, const std::string& printerName,
                                const std::string&) {
  C_Kernel& k = kernel_;
  if (k.jobFailed) return OutputEnd::kFinished;
  if (k.inputHandle >= 0) {
    ::close(k.inputHandle);
    k.inputHandle = -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    k.statusMessage = "ERROR Temporary print file couldn't be opened";
    k.jobFailed = true;
    return OutputEnd::kFinished;
  }
  const std::string startCode = ExpandControlCodes(ReadField(k.currentChannel.startCode));
  const std::string stopCode = ExpandControlCodes(ReadField(k.currentChannel.stopCode));
  std::vector<uint8_t> buffer(kDataBuffer);
  auto bytes = [](const std::string& s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };

  int32_t copiesSent = 0;
  while (k.copiesLeft > 0 && !k.jobFailed && stopRequested.load() == 0) {
    if (!printers::Answers(printerName)) {
      k.jobFailed = true;
      k.statusMessage = "ERROR while API-opening the printer " + printerName;
    } else if (auto job = printers::StreamJob::Start(printerName, kRawJobName, kRawFormat, nullptr);
               !job) {
      k.jobFailed = true;
      k.statusMessage = "ERROR Couldn't start binary file API-printing on " + printerName;
    } else {
      if (!startCode.empty()) k.jobFailed = !job->Write(bytes(startCode));
      ::lseek(fd, 0, SEEK_SET);
      ssize_t got = static_cast<ssize_t>(kDataBuffer);
      while (!k.jobFailed && got == static_cast<ssize_t>(kDataBuffer)) {
        // Fill the buffer: a short read from a pipe or a network file system is not the end.
        got = 0;
        while (got < static_cast<ssize_t>(kDataBuffer)) {
          ssize_t n = ::read(fd, buffer.data() + got, kDataBuffer - static_cast<std::size_t>(got));
          if (n == 0) break;
          if (n < 0) {
            got = -1;
            break;
          }
          got += n;
        }
        if (got < 0) {
          k.jobFailed = true;
        } else if (got > 0) {
          k.jobFailed =
              !job->Write(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(got)));
        }
      }
      if (!k.jobFailed && !stopCode.empty()) k.jobFailed = !job->Write(bytes(stopCode));
      if (!k.jobFailed) k.jobFailed = !job->Finish(nullptr);
      if (k.jobFailed) {
        k.statusMessage = "ERROR while binary file API-printing on " + printerName;
        job->Cancel();
      } else {
        ++copiesSent;
      }
    }
    --k.copiesLeft;
  }
  ::close(fd);
  // A stop before the first copy: nothing was printed, so the file must stay.
  if (!k.jobFailed && copiesSent == 0) return OutputEnd::kStopped;
  return OutputEnd::kFinished;
}

}  // namespace vellumora
