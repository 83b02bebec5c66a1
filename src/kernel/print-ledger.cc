// The print ledger's file form and bookkeeping.
#include "kernel/print-ledger.h"

#include <charconv>
#include <cstdio>

namespace vellumora {

namespace {

constexpr std::string_view kHeader = "Vellumora ledger 1";
// A ledger holds only files not yet disposed of: a few lines. Anything far larger is not ours.
constexpr std::size_t kMaxLedgerBytes = 16 * 1024 * 1024;
constexpr std::size_t kMaxJobsPerEntry = 10000;

// Blanks, control bytes and '%' as %XX, so every field is one word without blanks.
std::string Escape(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c == '%' || c == 0x7F) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out.empty() ? "%-" : out;  // never an empty field
}

bool Unescape(std::string_view text, std::string* out) {
  out->clear();
  if (text == "%-") return true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) return false;  // written escaped, never raw
    if (c != '%') {
      out->push_back(text[i]);
      continue;
    }
    unsigned value = 0;
    if (text.size() - i < 3) return false;
    auto [p, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
    if (ec != std::errc() || p != text.data() + i + 3) return false;
    out->push_back(static_cast<char>(value));
    i += 2;
  }
  return true;
}

template <typename T>
bool Number(std::string_view text, T* value) {
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && p == text.data() + text.size();
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ') ++j;
    if (j > i) words.push_back(line.substr(i, j - i));
    i = j;
  }
  return words;
}

bool ParseJobs(std::string_view text, std::vector<LedgerJob>* jobs) {
  jobs->clear();
  if (text == "-") return true;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos) return false;
    LedgerJob job;
    std::string_view copies = item.substr(colon + 1);
    if (copies.size() > 2 && copies.substr(copies.size() - 2) == ":C") {
      job.confirmed = true;
      copies.remove_suffix(2);
    }
    if (!Number(item.substr(0, colon), &job.id) || !Number(copies, &job.copies) || job.id <= 0 ||
        job.copies < 1 || jobs->size() >= kMaxJobsPerEntry)
      return false;
    jobs->push_back(job);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return true;
}

bool ParseEntry(std::string_view line, LedgerEntry* e) {
  const auto w = Words(line);
  if (w.size() != 9) return false;
  if (!Number(w[0], &e->file.device) || !Number(w[1], &e->file.inode) ||
      !Number(w[2], &e->file.size) || !Number(w[3], &e->file.mtimeNs) || !Number(w[4], &e->channel))
    return false;
  if (w[5] != "P" && w[5] != "S") return false;
  e->printed = w[5] == "P";
  return ParseJobs(w[6], &e->jobs) && Unescape(w[7], &e->printer) && Unescape(w[8], &e->path) &&
         !e->path.empty();
}

}  // namespace

std::string PrintLedger::Serialize(const std::vector<LedgerEntry>& entries) {
  std::string out(kHeader);
  out += '\n';
  for (const LedgerEntry& e : entries) {
    std::string jobs;
    for (const LedgerJob& j : e.jobs) {
      if (!jobs.empty()) jobs += ',';
      jobs += std::to_string(j.id) + ':' + std::to_string(j.copies) + (j.confirmed ? ":C" : "");
    }
    out += std::to_string(e.file.device) + ' ' + std::to_string(e.file.inode) + ' ' +
           std::to_string(e.file.size) + ' ' + std::to_string(e.file.mtimeNs) + ' ' +
           std::to_string(e.channel) + ' ' + (e.printed ? "P" : "S") + ' ' +
           (jobs.empty() ? "-" : jobs) + ' ' + Escape(e.printer) + ' ' + Escape(e.path) + '\n';
  }
  return out;
}

bool PrintLedger::Parse(std::string_view text, std::vector<LedgerEntry>* entries) {
  entries->clear();
  bool clean = true;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (first) {
      first = false;
      if (line != kHeader) return false;
      continue;
    }
    if (line.empty()) continue;
    LedgerEntry e;
    if (ParseEntry(line, &e))
      entries->push_back(std::move(e));
    else
      clean = false;
  }
  return clean && !first;
}

bool PrintLedger::Load(std::string* error) {
  loaded_ = true;
  entries_.clear();
  std::string text;
  std::string why;
  switch (ReadRegularFile(path_, &text, &why, kMaxLedgerBytes)) {
    case ReadStatus::kMissing:
      return true;
    case ReadStatus::kRead:
      break;
    default:
      if (error) *error = "the file " + path_ + " cannot be read: " + why;
      return false;
  }
  if (Parse(text, &entries_)) return true;
  if (error) *error = "the file " + path_ + " holds lines that cannot be read";
  return false;
}

bool PrintLedger::Save(bool durable, std::string* error) {
  return ReplaceFile(path_, Serialize(entries_), error, durable, 0664);
}

LedgerEntry* PrintLedger::Find(const FileIdentity& file) {
  for (LedgerEntry& e : entries_)
    if (e.file == file) return &e;
  return nullptr;
}

LedgerEntry& PrintLedger::Add(LedgerEntry entry) {
  Remove(entry.file);
  entries_.push_back(std::move(entry));
  return entries_.back();
}

void PrintLedger::Remove(const FileIdentity& file) {
  std::erase_if(entries_, [&](const LedgerEntry& e) { return e.file == file; });
}

}  // namespace vellumora
