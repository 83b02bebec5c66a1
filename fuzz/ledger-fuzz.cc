// Fuzz target: the print ledger's reader. What it reads back must write out and read again
// to the same entries.
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "kernel/print-ledger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<vellumora::LedgerEntry> entries;
  vellumora::PrintLedger::Parse(std::string_view(reinterpret_cast<const char*>(data), size),
                                &entries);
  std::vector<vellumora::LedgerEntry> again;
  if (!vellumora::PrintLedger::Parse(vellumora::PrintLedger::Serialize(entries), &again))
    std::abort();
  if (again.size() != entries.size()) std::abort();
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (!(again[i].file == entries[i].file) || again[i].path != entries[i].path ||
        again[i].printer != entries[i].printer || again[i].jobs.size() != entries[i].jobs.size())
      std::abort();
  return 0;
}
