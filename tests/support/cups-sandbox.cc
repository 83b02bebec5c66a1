// Test access to the private CUPS scheduler that scripts/cups-sandbox starts for a test run.
#include "support/cups-sandbox.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <system_error>
#include <thread>

#include "support/sandbox-dir.h"

namespace vellumora::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::unique_ptr<CupsSandbox>& Instance() {
  static std::unique_ptr<CupsSandbox> instance;
  return instance;
}

// "job-17.prn" -> 17, anything else -> 0.
int JobIdOfFile(const std::string& name) {
  constexpr std::string_view prefix = "job-", suffix = ".prn";
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix))
    return 0;
  int id = 0;
  const char* first = name.data() + prefix.size();
  const char* last = name.data() + name.size() - suffix.size();
  auto [end, ec] = std::from_chars(first, last, id);
  return ec == std::errc() && end == last ? id : 0;
}

std::map<std::string, std::string> ReadInfo(const fs::path& file) {
  std::map<std::string, std::string> info;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    auto eq = line.find('=');
    if (eq != std::string::npos) info[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return info;
}

std::string PrinterUri(std::string_view queue) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%.*s", static_cast<int>(queue.size()), queue.data());
  return uri;
}

// Sends a request without a document; true when the scheduler accepted it.
bool DoRequest(ipp_t* request, const char* resource) {
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, resource));
  return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

bool PrinterRequest(ipp_op_t op, std::string_view queue) {
  ipp_t* request = ippNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               PrinterUri(queue).c_str());
  if (DoRequest(request, "/admin/")) return true;
  std::cerr << "[ cups     ] " << ippOpString(op) << " on " << queue
            << " failed: " << cupsLastErrorString() << "\n";
  return false;
}

template <typename Predicate>
bool PollUntil(std::chrono::milliseconds timeout, Predicate done) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

}  // namespace

std::string CapturedJob::Info(const std::string& key) const {
  auto it = info.find(key);
  return it == info.end() ? std::string() : it->second;
}

CupsSandbox* CupsSandbox::Open(std::string* why) {
  auto& instance = Instance();
  if (instance) return instance.get();
  std::unique_ptr<CupsSandbox> sandbox(new CupsSandbox);
  std::string reason;
  if (!sandbox->Load(&reason)) {
    if (why != nullptr) *why = reason;
    return nullptr;
  }
  instance = std::move(sandbox);
  return instance.get();
}

CupsSandbox& CupsSandbox::Get() {
  std::string why;
  CupsSandbox* sandbox = Open(&why);
  if (sandbox == nullptr) {
    std::cerr << "No private CUPS scheduler: " << why << "\n";
    std::abort();
  }
  return *sandbox;
}

CupsSandbox::~CupsSandbox() {
  std::error_code ec;
  if (!home_.empty()) fs::remove_all(home_, ec);
}

bool CupsSandbox::Load(std::string* why) {
  // ctest names the env file; someone who sourced it by hand has VELLUMORA_CUPS_DIR instead.
  fs::path env_file;
  if (const char* env = std::getenv("VELLUMORA_CUPS_ENV"); env != nullptr && *env != '\0') {
    env_file = env;
  } else if (const char* dir = std::getenv("VELLUMORA_CUPS_DIR"); dir != nullptr && *dir != '\0') {
    env_file = fs::path(dir) / "env";
  } else {
    *why =
        "neither VELLUMORA_CUPS_ENV nor VELLUMORA_CUPS_DIR is set; run the test through ctest, "
        "or source the output of scripts/cups-sandbox start";
    return false;
  }
  std::ifstream in(env_file);
  if (!in) {
    *why = "cannot read " + env_file.string();
    return false;
  }
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("export ")) line.erase(0, 7);
    auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  dir_ = values["VELLUMORA_CUPS_DIR"];
  server_ = values["CUPS_SERVER"];
  const std::string& port = values["VELLUMORA_CUPS_PORT"];
  std::from_chars(port.data(), port.data() + port.size(), port_);
  if (dir_.empty() || server_.empty() || port_ <= 0) {
    *why = env_file.string() + " lacks VELLUMORA_CUPS_DIR, CUPS_SERVER or VELLUMORA_CUPS_PORT";
    return false;
  }
  std::error_code ec;
  if (!fs::is_socket(server_, ec)) {
    *why = "no scheduler socket at " + server_ + " (the sandbox named by " + env_file.string() +
           " is gone)";
    return false;
  }

  std::string home = (dir_ / "home" / "XXXXXX").string();
  if (mkdtemp(home.data()) == nullptr) {
    *why = "cannot create a home folder in " + (dir_ / "home").string();
    return false;
  }
  home_ = home;
  setenv("CUPS_SERVER", server_.c_str(), 1);
  setenv("HOME", home.c_str(), 1);
  unsetenv("PRINTER");
  unsetenv("LPDEST");
  // libcups caches the server per thread; make this thread read the variable again.
  cupsSetServer(nullptr);

  if (ActiveJobs(kRawQueue) < 0) {
    *why = "the scheduler at " + server_ + " does not answer: " + cupsLastErrorString();
    return false;
  }
  mark_ = HighestCapturedId();
  return true;
}

std::string CupsSandbox::tcp_server() const {
  return "127.0.0.1:" + std::to_string(port_);
}

fs::path CupsSandbox::CaptureDir(std::string_view queue) const {
  return dir_ / "out" / queue;
}

int CupsSandbox::HighestCapturedId() const {
  int highest = 0;
  for (const char* queue : {kRawQueue, kPostScriptQueue}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(CaptureDir(queue), ec))
      highest = std::max(highest, JobIdOfFile(entry.path().filename().string()));
  }
  return highest;
}

bool CupsSandbox::Reset(std::string* why) {
  std::string problems;
  for (const char* queue : {kRawQueue, kPostScriptQueue}) {
    ClearDelay(queue);
    if (cupsCancelJob2(CUPS_HTTP_DEFAULT, queue, CUPS_JOBID_ALL, 0) != IPP_STATUS_OK)
      problems +=
          std::string("cannot cancel the jobs of ") + queue + ": " + cupsLastErrorString() + "; ";
    if (!ResumeQueue(queue)) problems += std::string("cannot resume ") + queue + "; ";
  }
  for (const char* queue : {kRawQueue, kPostScriptQueue}) {
    if (!WaitForActiveJobs(queue, 0, std::chrono::seconds(10)))
      problems += std::string("jobs of ") + queue + " stay active after cancelling; ";
  }
  // Every earlier job is finished now, so none of them can still add a file: whatever appears
  // above the highest captured ID comes from the test that runs next.
  mark_ = HighestCapturedId();
  if (!problems.empty() && why != nullptr) *why = problems;
  return problems.empty();
}

std::vector<CapturedJob> CupsSandbox::CapturedJobs(std::string_view queue) const {
  std::vector<CapturedJob> jobs;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(CaptureDir(queue), ec)) {
    int id = JobIdOfFile(entry.path().filename().string());
    if (id <= mark_) continue;
    CapturedJob job;
    job.id = id;
    job.file = entry.path();
    job.data = ReadFileBytes(entry.path());
    job.info = ReadInfo(fs::path(entry.path()).replace_extension(".info"));
    jobs.push_back(std::move(job));
  }
  if (ec) ADD_FAILURE() << "cannot list " << CaptureDir(queue) << ": " << ec.message();
  std::sort(jobs.begin(), jobs.end(),
            [](const CapturedJob& a, const CapturedJob& b) { return a.id < b.id; });
  return jobs;
}

std::vector<CapturedJob> CupsSandbox::WaitForJobs(std::string_view queue, size_t count,
                                                  std::chrono::milliseconds timeout) const {
  // Counting names is cheap; the files are read once, at the end.
  auto captured = [&] {
    size_t n = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(CaptureDir(queue), ec))
      if (JobIdOfFile(entry.path().filename().string()) > mark_) ++n;
    return n;
  };
  PollUntil(timeout, [&] { return captured() >= count; });
  return CapturedJobs(queue);
}

int CupsSandbox::ActiveJobs(std::string_view queue) const {
  cups_job_t* jobs = nullptr;
  std::string name(queue);
  int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, name.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
  cupsFreeJobs(std::max(count, 0), jobs);
  if (count <= 0 && cupsLastError() > IPP_STATUS_OK_CONFLICTING &&
      cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
    return -1;
  return std::max(count, 0);
}

bool CupsSandbox::WaitForActiveJobs(std::string_view queue, int count,
                                    std::chrono::milliseconds timeout) const {
  return PollUntil(timeout, [&] { return ActiveJobs(queue) == count; });
}

namespace {
// Get-Job-Attributes for one job; the response (or null) is the caller's.
ipp_t* GetJobAttributes(int job_id) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/jobs/%d",
                   job_id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  return cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
}
}  // namespace

ipp_jstate_t CupsSandbox::JobState(int job_id) const {
  ipp_jstate_t state = static_cast<ipp_jstate_t>(0);
  if (ipp_t* response = GetJobAttributes(job_id)) {
    if (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM))
      state = static_cast<ipp_jstate_t>(ippGetInteger(a, 0));
    ippDelete(response);
  }
  return state;
}

std::string CupsSandbox::JobAttribute(int job_id, const char* name) const {
  std::string value;
  if (ipp_t* response = GetJobAttributes(job_id)) {
    if (ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_ZERO)) {
      char text[1024];
      ippAttributeString(a, text, sizeof text);
      value = text;
    }
    ippDelete(response);
  }
  return value;
}

bool CupsSandbox::WaitForJobState(int job_id, ipp_jstate_t state,
                                  std::chrono::milliseconds timeout) const {
  return PollUntil(timeout, [&] { return JobState(job_id) == state; });
}

bool CupsSandbox::SchedulerDown(bool kill) const {
  const std::string command = std::string("bash ") + VELLUMORA_CUPS_SANDBOX_SCRIPT +
                              " scheduler-down " + dir_.string() + (kill ? " KILL" : " TERM");
  return std::system(command.c_str()) == 0;
}

bool CupsSandbox::SchedulerUp() const {
  const std::string command =
      std::string("bash ") + VELLUMORA_CUPS_SANDBOX_SCRIPT + " scheduler-up " + dir_.string();
  return std::system(command.c_str()) == 0;
}

bool CupsSandbox::PauseQueue(std::string_view queue) const {
  return PrinterRequest(IPP_OP_PAUSE_PRINTER, queue);
}

bool CupsSandbox::ResumeQueue(std::string_view queue) const {
  return PrinterRequest(IPP_OP_RESUME_PRINTER, queue);
}

void CupsSandbox::SetDelay(std::string_view queue, std::chrono::milliseconds delay) const {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%lld.%03lld\n",
                static_cast<long long>(delay.count() / 1000),
                static_cast<long long>(delay.count() % 1000));
  // Renamed into place so the backend never reads half a number.
  fs::path file = CaptureDir(queue) / ".delay";
  fs::path tmp = CaptureDir(queue) / ".delay.tmp";
  WriteFileBytes(tmp, seconds);
  std::error_code ec;
  fs::rename(tmp, file, ec);
  if (ec) ADD_FAILURE() << "cannot write " << file << ": " << ec.message();
}

void CupsSandbox::ClearDelay(std::string_view queue) const {
  std::error_code ec;
  fs::remove(CaptureDir(queue) / ".delay", ec);
}

void CupsSandbox::Keep(std::string_view reason) const {
  std::ofstream keep(dir_ / "keep", std::ios::app);
  keep << reason << "\n";
}

ipp_t* PrinterAttributesResponse(const char* queue) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", queue);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  return cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
}

std::string PrinterDefault(const char* queue, const char* attribute) {
  ipp_t* response = PrinterAttributesResponse(queue);
  std::string value;
  if (ipp_attribute_t* a = ippFindAttribute(response, attribute, IPP_TAG_ZERO)) {
    char text[256];
    ippAttributeString(a, text, sizeof text);
    value = text;
  }
  ippDelete(response);
  return value;
}

}  // namespace vellumora::test
