// PrintRawFile and the control code notation.
#include "output/raw-print.h"

#include <vector>

#include "kernel/text-fields.h"
#include "output/job-data.h"
#include "output/outputs.h"
#include "platform/printers.h"

namespace vellumora {

namespace {
constexpr std::size_t kDataBuffer = 10000;
constexpr int kCodeCapacity = 128;
constexpr char kRawJobName[] = "Vellumora File";
constexpr char kRawFormat[] = "application/vnd.cups-raw";

// A decimal number as a lenient reader takes it: leading blanks, a sign, then the digits up to
// the first other character; no digits give 0. Only the low 8 bits are used, so the digits are
// taken modulo 256 and no number can overflow.
int LeadingNumberLowByte(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  unsigned value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = (value * 10 + static_cast<unsigned>(text[i] - '0')) & 0xFF;
  return static_cast<int>(negative ? (256 - value) & 0xFF : value);
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
      out.push_back(static_cast<char>(LeadingNumberLowByte(text.substr(i + 1, close - i - 1))));
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

OutputReport Outputs::PrintRawFile(const OutputJob& job) {
  const std::string& printerName = job.printerName;
  const std::string startCode = ExpandControlCodes(ReadField(job.channel->startCode));
  const std::string stopCode = ExpandControlCodes(ReadField(job.channel->stopCode));
  std::vector<uint8_t> buffer(kDataBuffer);
  auto bytes = [](const std::string& s) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  };

  // Every copy is a job of its own carrying the start code, the whole file and the stop code.
  for (int32_t copy = 0; copy < job.copies; ++copy) {
    // A stop ends the copies; the jobs already sent are known to the dispatcher, which keeps
    // the file until the remaining copies are out.
    if (job.StopAsked()) return {OutputResult::kStopped, {}};
    if (!printers::Answers(printerName))
      return {OutputResult::kRetry, "ERROR while API-opening the printer " + printerName};
    std::string error;
    auto stream = printers::StreamJob::Start(
        printerName, kRawJobName, job.name, kRawFormat, 1,
        [&](int32_t id) { return job.JobCreated(printerName, id, 1); }, &error);
    if (!stream) {
      if (kernel_.settings.DebugMode) job.Log("DEBUG-INFO " + error);
      return {OutputResult::kRetry,
              "ERROR Couldn't start binary file API-printing on " + printerName};
    }
    bool ok = startCode.empty() || stream->Write(bytes(startCode));
    ok = ok && SendFileData(*stream, job.fd, buffer, &error);
    ok = ok && (stopCode.empty() || stream->Write(bytes(stopCode)));
    ok = ok && stream->Finish(&error);
    if (ok) job.JobConfirmed(printerName, stream->JobId());
    if (!ok) {
      stream->Cancel();
      return {OutputResult::kRetry, "ERROR while binary file API-printing on " + printerName +
                                        (error.empty() ? "" : ": " + error)};
    }
  }
  return {OutputResult::kPrinted, {}};
}

}  // namespace vellumora
