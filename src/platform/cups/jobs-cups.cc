// Print jobs through libcups: creating one, streaming its document, confirming that the server
// holds it whole, asking after it later and cancelling it.
#include <cups/cups.h>

#include <cstring>
#include <string>

#include "platform/cups/cups-internal.h"
#include "platform/printers.h"

namespace vellumora::printers {

namespace {

// How long one read or write on the job's connection may wait for the server.
constexpr double kIoTimeoutSeconds = 30.0;

std::string Resource(const std::string& printer) {
  return "/printers/" + printer;
}

std::string LastError(const char* fallback) {
  const char* text = cupsLastErrorString();
  return text && *text && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE ? text : fallback;
}

// Creates a job with one IPP request. cupsCreateJob would first fetch every attribute of the
// printer, which costs more than the whole job for small raw files.
int32_t CreateJob(http_t* http, const std::string& printer, const std::string& title,
                  int32_t copies, const JobOptions& options, std::string* error) {
  ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               PrinterUri(printer).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
  if (copies > 1) ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", copies);
  if (!options.empty()) {
    cups_option_t* list = nullptr;
    int count = 0;
    for (const auto& [name, value] : options)
      count = cupsAddOption(name.c_str(), value.c_str(), count, &list);
    cupsEncodeOptions2(request, count, list, IPP_TAG_JOB);
    cupsFreeOptions(count, list);
  }
  ipp_t* response = cupsDoRequest(http, request, Resource(printer).c_str());
  int32_t id = 0;
  if (response && ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE)
    if (ipp_attribute_t* a = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER))
      id = ippGetInteger(a, 0);
  if (id <= 0 && error)
    *error = response ? LastError("the print server gave the job no number")
                      : LastError("the print server does not answer");
  ippDelete(response);
  return id > 0 ? id : 0;
}

bool HasReason(ipp_attribute_t* reasons, const char* reason) {
  for (int i = 0; reasons && i < ippGetCount(reasons); ++i)
    if (const char* r = ippGetString(reasons, i, nullptr); r && std::strcmp(r, reason) == 0)
      return true;
  return false;
}

JobState QueryJobOn(http_t* http, const std::string& printer, int32_t jobId) {
  if (jobId <= 0) return JobState::kNoSuchJob;
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               PrinterUri(printer).c_str());
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  static const char* const kWanted[] = {"job-state", "job-state-reasons", "number-of-documents"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr,
                kWanted);
  ipp_t* response = cupsDoRequest(http, request, "/jobs/");
  if (!response) return JobState::kNoAnswer;
  const ipp_status_t status = ippGetStatusCode(response);
  JobState state = JobState::kNoAnswer;
  if (status == IPP_STATUS_ERROR_NOT_FOUND) {
    state = JobState::kNoSuchJob;
  } else if (status <= IPP_STATUS_OK_EVENTS_COMPLETE) {
    ipp_attribute_t* reasons = ippFindAttribute(response, "job-state-reasons", IPP_TAG_KEYWORD);
    // A job without a document never got its data: after a restart the server holds it
    // without saying "job-incoming" any more.
    ipp_attribute_t* documents = ippFindAttribute(response, "number-of-documents", IPP_TAG_INTEGER);
    const bool noDocument = documents && ippGetInteger(documents, 0) == 0;
    if (ipp_attribute_t* a = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) {
      switch (static_cast<ipp_jstate_t>(ippGetInteger(a, 0))) {
        case IPP_JSTATE_PENDING:
          state = noDocument ? JobState::kIncoming : JobState::kPending;
          break;
        case IPP_JSTATE_HELD:
          state = noDocument || HasReason(reasons, "job-incoming") ? JobState::kIncoming
                                                                   : JobState::kHeld;
          break;
        case IPP_JSTATE_PROCESSING:
          state = JobState::kProcessing;
          break;
        case IPP_JSTATE_STOPPED:
          state = JobState::kStopped;
          break;
        case IPP_JSTATE_CANCELED:
          state = JobState::kCanceled;
          break;
        case IPP_JSTATE_ABORTED:
          state = JobState::kAborted;
          break;
        case IPP_JSTATE_COMPLETED:
          state = JobState::kCompleted;
          break;
      }
    }
  }
  ippDelete(response);
  return state;
}

const char* StateText(JobState s) {
  switch (s) {
    case JobState::kPending:
      return "pending";
    case JobState::kHeld:
      return "held";
    case JobState::kIncoming:
      return "held, its data incomplete";
    case JobState::kProcessing:
      return "processing";
    case JobState::kStopped:
      return "stopped";
    case JobState::kCanceled:
      return "cancelled";
    case JobState::kAborted:
      return "aborted";
    case JobState::kCompleted:
      return "completed";
    case JobState::kNoSuchJob:
      return "unknown to the server";
    case JobState::kNoAnswer:
      return "not answered";
  }
  return "?";
}

class CupsStreamJob final : public StreamJob {
 public:
  CupsStreamJob(http_t* http, std::string printer, int32_t id)
      : http_(http), printer_(std::move(printer)), id_(id) {}
  ~CupsStreamJob() override { httpClose(http_); }

  bool Write(std::span<const uint8_t> bytes) override {
    if (bytes.empty()) return true;
    return cupsWriteRequestData(http_, reinterpret_cast<const char*>(bytes.data()), bytes.size()) ==
           HTTP_STATUS_CONTINUE;
  }

  bool Finish(std::string* error) override {
    // The answer to this very document request: cupsFinishDocument would report the status of
    // an earlier request when the server hangs up without answering.
    ipp_t* response = cupsGetResponse(http_, Resource(printer_).c_str());
    if (!response) {
      if (error) *error = "the print server did not confirm the document";
      Cancel();
      return false;
    }
    const ipp_status_t status = ippGetStatusCode(response);
    ippDelete(response);
    if (status > IPP_STATUS_OK_EVENTS_COMPLETE) {
      if (error) *error = ippErrorString(status);
      Cancel();
      return false;
    }
    const JobState state = QueryJobOn(http_, printer_, id_);
    if (!HoldsWholeJob(state)) {
      if (error) *error = std::string("the print server reports the job as ") + StateText(state);
      Cancel();
      return false;
    }
    return true;
  }

  // The job's own connection may be in the middle of a document: cancel over another one.
  void Cancel() override { CancelJob(printer_, id_); }
  int32_t JobId() const override { return id_; }

 private:
  http_t* http_;
  std::string printer_;
  int32_t id_;
};

}  // namespace

bool HoldsWholeJob(JobState state) {
  switch (state) {
    case JobState::kPending:
    case JobState::kHeld:
    case JobState::kProcessing:
    case JobState::kStopped:
    case JobState::kCompleted:
      return true;
    default:
      return false;
  }
}

JobState QueryJob(const std::string& printer, int32_t jobId) {
  return QueryJobOn(CUPS_HTTP_DEFAULT, printer, jobId);
}

bool CancelJob(const std::string& printer, int32_t jobId) {
  if (jobId <= 0) return false;
  return cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), jobId, 0) <=
         IPP_STATUS_OK_EVENTS_COMPLETE;
}

std::unique_ptr<StreamJob> StreamJob::Start(const std::string& printer, const std::string& title,
                                            const std::string& documentName,
                                            const std::string& format, int32_t copies,
                                            const std::function<bool(int32_t)>& created,
                                            std::string* error, const JobOptions& options) {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              30000, nullptr);
  if (!http) {
    if (error) *error = "the print server does not answer";
    return nullptr;
  }
  httpSetTimeout(http, kIoTimeoutSeconds, nullptr, nullptr);
  const int32_t id = CreateJob(http, printer, title, copies, options, error);
  if (id <= 0) {
    httpClose(http);
    return nullptr;
  }
  if (created && !created(id)) {
    if (error) *error = "the record of printed files couldn't be written";
    httpClose(http);
    CancelJob(printer, id);
    return nullptr;
  }
  if (cupsStartDocument(http, printer.c_str(), id, documentName.c_str(), format.c_str(), 1) !=
      HTTP_STATUS_CONTINUE) {
    if (error) *error = LastError("the print server refused the document");
    httpClose(http);
    CancelJob(printer, id);
    return nullptr;
  }
  return std::make_unique<CupsStreamJob>(http, printer, id);
}

}  // namespace vellumora::printers
