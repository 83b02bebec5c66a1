// SendFileData: a file's bytes into a print job, read through the descriptor alone.
#include "output/job-data.h"

#include "platform/files.h"

namespace vellumora {

bool SendFileData(printers::StreamJob& job, int fd, std::span<uint8_t> buffer, std::string* error) {
  int64_t offset = 0;
  for (;;) {
    const int64_t got = ReadAt(fd, buffer.data(), buffer.size(), offset);
    if (got < 0) {
      if (error) *error = "the file could not be read";
      return false;
    }
    if (got == 0) return true;
    if (!job.Write(buffer.first(static_cast<std::size_t>(got)))) {
      if (error) *error = "the print server stopped taking the data";
      return false;
    }
    offset += got;
    if (got < static_cast<int64_t>(buffer.size())) return true;
  }
}

}  // namespace vellumora
