// The machine's printers as the print server (CUPS) presents them: the list, queues, page
// metrics, paper, the default job settings, and jobs. No CUPS header leaks out of here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumora::printers {

// Printer names (print server destinations without instances), each in its own spelling.
std::vector<std::string> Names();
// The default printer's name, or empty.
std::string DefaultName();
// The server answers and knows the printer (names compare without regard to case).
bool Answers(const std::string& name);
// Number of the printer's jobs not yet finished; -1 when the queue cannot be read.
int32_t ActiveJobCount(const std::string& name);

// A page as the printer's default paper and resolution give it, in printer dots.
struct PageMetrics {
  int32_t dpiX = 0, dpiY = 0;
  int32_t paperWidth = 0, paperHeight = 0;  // the whole sheet
  int32_t offsetX = 0, offsetY = 0;         // physical offsets of the printable area
  int32_t printableWidth = 0, printableHeight = 0;
};
std::optional<PageMetrics> ReadPageMetrics(const std::string& name);

// The printer's default job settings as an opaque block. Its length depends only on the
// printer's driver (which settings it has), never on the values chosen, so a stored block
// whose length differs was made for another driver.
std::optional<std::vector<uint8_t>> ReadDefaultsBlock(const std::string& name);
enum class WriteResult { kOk, kNotAuthorized, kFailed };
// Makes the block's settings the printer's defaults on the server.
WriteResult WriteDefaultsBlock(const std::string& name, std::span<const uint8_t> block);

// The settings of the defaults block as a driver settings dialog offers them. A value is a
// token in the block's own text form (a type letter, then the value: "kiso_a4_210x297mm",
// "e4", "r600x600dpi"), so a choice goes into a block unchanged; SettingLabel makes it
// readable.
struct DriverSetting {
  std::string option;                // the IPP name: "media", "sides", ...
  std::vector<std::string> choices;  // the values the printer supports, in its own order
  std::string current;               // the printer's default now; empty when it has none
};
// Each setting of the printer's block whose values can be listed (not the copies, a range of
// thousands), in the block's order. Empty when the printer does not answer.
std::vector<DriverSetting> DriverSettings(const std::string& name);
// A value token as the user reads it ("A4", "landscape", "600 dpi"); the token itself when it
// is none the block can hold.
std::string SettingLabel(const std::string& option, const std::string& token);
// The value token `block` records for `option`; empty when it records none or has no slot for
// the option.
std::string BlockSetting(std::span<const uint8_t> block, const std::string& option);
// Records `token` for `option` in `block`; an empty token records no value, so that the
// printer's own default stays. False, with the block unchanged, when the block has no slot for
// the option or the token is no value a slot can hold. The block's length never changes.
bool SetBlockSetting(std::vector<uint8_t>& block, const std::string& option,
                     const std::string& token);

// Paper sizes. Stored records keep Windows paper codes; the server speaks media names.
struct Paper {
  std::string name;    // e.g. "A4"
  std::string media;   // e.g. "iso_a4_210x297mm"
  int32_t code = 256;  // Windows paper code, 256 when there is none
  int32_t widthTenthMm = 0;
  int32_t heightTenthMm = 0;
};
std::vector<Paper> PaperList(const std::string& name);
// The media name for a Windows paper code (empty when unknown) and back (256 when unknown).
std::string MediaForPaperCode(int32_t code);
int32_t PaperCodeForMedia(std::string_view media);
// A custom paper size; a dimension of 0 keeps the current default's.
std::string CustomMedia(const std::string& printer, int32_t widthMm, int32_t heightMm);
WriteResult SetDefaultMedia(const std::string& name, const std::string& media);

// What the print server says of a job.
enum class JobState {
  kPending,     // waiting to print
  kHeld,        // held by the server or an administrator, complete
  kIncoming,    // held because its document never finished arriving
  kProcessing,  // printing
  kStopped,     // the printer stopped while printing it
  kCanceled,
  kAborted,
  kCompleted,
  kNoSuchJob,  // the server answered but does not know the job (any more)
  kNoAnswer,   // the server could not be asked
};
// Get-Job-Attributes for one job.
JobState QueryJob(const std::string& printer, int32_t jobId);
// True for the states in which the server holds the whole job: it is printed, or will be.
bool HoldsWholeJob(JobState state);
// Cancels the job; false when the server refused or could not be reached.
bool CancelJob(const std::string& printer, int32_t jobId);

// Job options by their IPP names and values as text ("print-scaling" = "fit").
using JobOptions = std::vector<std::pair<std::string, std::string>>;

// The media name the printer uses by default ("iso_a4_210x297mm"); empty when unknown.
std::string DefaultMediaName(const std::string& printer);

// A job whose one document is streamed to the printer as it is produced.
class StreamJob {
 public:
  // Creates the job (titled `title`, with `copies` copies made by the server and the given
  // options) and starts its document, named `documentName`. `created` learns the job's id as soon
  // as the server gave it, before any data is sent; when it answers false the job is cancelled at
  // once. Empty on failure with the reason in *error.
  static std::unique_ptr<StreamJob> Start(const std::string& printer, const std::string& title,
                                          const std::string& documentName,
                                          const std::string& format, int32_t copies,
                                          const std::function<bool(int32_t jobId)>& created,
                                          std::string* error, const JobOptions& options = {});
  virtual ~StreamJob() = default;
  virtual bool Write(std::span<const uint8_t> bytes) = 0;
  // Ends the document and reads the server's own answer to it, then asks the server for the
  // job: true only when the document request succeeded and the job is held whole (pending,
  // printing or done). False with the reason in *error; the job is then cancelled where it
  // can be.
  virtual bool Finish(std::string* error) = 0;
  // Cancels the job on the server.
  virtual void Cancel() = 0;
  virtual int32_t JobId() const = 0;
};

}  // namespace vellumora::printers
