// Sending an open file's bytes as a print job's document data.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/printers.h"

namespace vellumora {

// Streams the whole file behind `fd`, from its first byte to its end, into the job through
// `buffer`. A read error fails the job rather than letting a truncated document through.
// False with the reason in *error.
bool SendFileData(printers::StreamJob& job, int fd, std::span<uint8_t> buffer, std::string* error);

}  // namespace vellumora
