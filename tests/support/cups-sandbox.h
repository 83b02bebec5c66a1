// Test access to the private CUPS scheduler that scripts/cups-sandbox starts for a test run.
#pragma once

#include <cups/cups.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vellumora::test {

// One job as the capture backend stored it.
struct CapturedJob {
  int id = 0;
  std::string data;                         // the bytes the printer received, unchanged
  std::map<std::string, std::string> info;  // job-id, title, copies, options, content-type,
                                            // final-content-type, user, printer
  std::filesystem::path file;               // .../job-ID.prn

  // The .info value for key, "" when the backend did not record it.
  std::string Info(const std::string& key) const;
};

// The scheduler named by the env file in $VELLUMORA_CUPS_ENV (written by
// `scripts/cups-sandbox start`). Opening it prepares the whole process: CUPS_SERVER points at
// the sandbox's socket, PRINTER and LPDEST are unset, and HOME is a private folder so
// lpoptions files land there.
//
// Captured jobs are counted from a mark: only jobs with an ID above the highest one captured
// when the sandbox was opened or last Reset() belong to the running test. The cups test main calls
// Reset() before every test, and CTest runs the tests labelled cups one at a time, so each test has
// both queues to itself.
class CupsSandbox {
 public:
  static constexpr const char* kRawQueue = "capture";            // raw, the default destination
  static constexpr const char* kPostScriptQueue = "capture-ps";  // PostScript driver, A4, 300 dpi

  // Opens the sandbox once per process. Returns nullptr and sets *why when none is reachable.
  static CupsSandbox* Open(std::string* why = nullptr);
  // The opened sandbox; aborts with the reason when the process has none.
  static CupsSandbox& Get();

  ~CupsSandbox();
  CupsSandbox(const CupsSandbox&) = delete;
  CupsSandbox& operator=(const CupsSandbox&) = delete;

  const std::filesystem::path& dir() const { return dir_; }
  // The value CUPS_SERVER has: the scheduler's Unix socket.
  const std::string& server() const { return server_; }
  int port() const { return port_; }
  // "127.0.0.1:PORT": calls that fetch a PPD fail on the socket and need this address.
  std::string tcp_server() const;
  // Where the queue's printer stores its jobs.
  std::filesystem::path CaptureDir(std::string_view queue) const;

  // Cancels every job, removes .delay files, resumes both queues and sets the job mark.
  bool Reset(std::string* why = nullptr);
  // Jobs captured for the queue since the mark, ordered by ID.
  std::vector<CapturedJob> CapturedJobs(std::string_view queue) const;
  // Waits until at least count jobs were captured since the mark (or the time is up) and returns
  // all of them; a test compares the size with what it expects.
  std::vector<CapturedJob> WaitForJobs(
      std::string_view queue, size_t count,
      std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // Jobs of the queue that are pending, held or printing (cupsGetJobs2, CUPS_WHICHJOBS_ACTIVE);
  // -1 when the scheduler does not answer.
  int ActiveJobs(std::string_view queue) const;
  // Waits until ActiveJobs(queue) == count; false when the time ran out first.
  bool WaitForActiveJobs(std::string_view queue, int count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // The job's state, or 0 when the scheduler does not know the job.
  ipp_jstate_t JobState(int job_id) const;
  // One attribute of the job as text (ippAttributeString), "" when it has none.
  std::string JobAttribute(int job_id, const char* name) const;
  // Waits until the job reaches state; false when the time ran out first.
  bool WaitForJobState(int job_id, ipp_jstate_t state,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // IPP Pause-Printer / Resume-Printer: a paused queue accepts jobs and keeps them.
  bool PauseQueue(std::string_view queue) const;
  bool ResumeQueue(std::string_view queue) const;
  // Makes the queue's printer hold each job this long after reading it, so a test can act
  // while the job is printing; ClearDelay() ends that.
  void SetDelay(std::string_view queue, std::chrono::milliseconds delay) const;
  void ClearDelay(std::string_view queue) const;

  // An outage of the print server: the scheduler ends (SIGTERM, or SIGKILL with `kill`) but
  // the sandbox, its queues and its jobs stay; SchedulerUp starts it again on the same state.
  bool SchedulerDown(bool kill = false) const;
  bool SchedulerUp() const;

  // Asks `scripts/cups-sandbox stop` to keep the sandbox folder, saying why.
  void Keep(std::string_view reason) const;

 private:
  CupsSandbox() = default;
  bool Load(std::string* why);
  int HighestCapturedId() const;

  std::filesystem::path dir_;
  std::filesystem::path home_;
  std::filesystem::path running_marker_;
  std::string server_;
  int port_ = 0;
  int mark_ = 0;
};

// The server's answer to Get-Printer-Attributes for the queue (nullptr when none); the caller
// deletes it with ippDelete.
ipp_t* PrinterAttributesResponse(const char* queue);
// A printer attribute as the server reports it (Get-Printer-Attributes), in its text form
// ("iso_a4_210x297mm"); "" when it has none.
std::string PrinterDefault(const char* queue, const char* attribute);

}  // namespace vellumora::test
