// The record of input files whose print jobs went to the print server but which are not yet
// disposed of. It keeps a file from being printed twice: when its move or delete failed, when
// the process died between the job and the disposal, or when the end of a job was uncertain.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace vellumora {

struct LedgerJob {
  int32_t id = 0;
  int32_t copies = 1;  // copies of the file that job carries
  // The print server confirmed that it held the whole job: it counts as printed even once the
  // server has forgotten it (finished jobs leave its history).
  bool confirmed = false;
};

struct LedgerEntry {
  FileIdentity file;  // device, inode, size and modification time when it was printed
  int32_t channel = 0;
  std::string printer;
  std::string path;  // full path of the input file
  // Every copy is held by the print server; only the disposal is due. Otherwise the jobs
  // below were created, but whether the server holds them must be asked before printing again.
  bool printed = false;
  std::vector<LedgerJob> jobs;
  // Not stored: the disposal failure was logged in this run already.
  bool reported = false;
};

// "Vellumora.ledger": a header line and one line per entry; see docs/file-formats.md.
class PrintLedger {
 public:
  explicit PrintLedger(std::string path = {}) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }
  // Reads the file; a missing file is an empty ledger. Lines that cannot be read are dropped
  // (false, with the reason in *error, when there were any).
  bool Load(std::string* error);
  // Writes the whole ledger crash-safely. With `durable` it is on disk before this returns.
  bool Save(bool durable, std::string* error);

  // The entry of the file with this identity (same device and inode, size and time), or null.
  LedgerEntry* Find(const FileIdentity& file);
  LedgerEntry& Add(LedgerEntry entry);
  void Remove(const FileIdentity& file);
  std::vector<LedgerEntry>& entries() { return entries_; }
  bool loaded() const { return loaded_; }

  // The text form, exposed for tests and the fuzz target.
  static std::string Serialize(const std::vector<LedgerEntry>& entries);
  // Parses the text form; false when a line was unreadable (the readable ones are returned).
  static bool Parse(std::string_view text, std::vector<LedgerEntry>* entries);

 private:
  std::string path_;
  std::vector<LedgerEntry> entries_;
  bool loaded_ = false;
};

}  // namespace vellumora
