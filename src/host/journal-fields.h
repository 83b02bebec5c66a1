// What a log line becomes in the journal: its priority and the print channel it concerns.
#pragma once

#include <cstdint>
#include <string>

#include "platform/service-manager.h"

namespace vellumora {

struct JournalFields {
  JournalPriority priority = JournalPriority::kInfo;
  int32_t channel = 0;  // 1-based; 0 when no channel is concerned
};

// "ERROR..." lines are errors, "DEBUG-INFO..." lines debug output, the rest information. The
// channel is `busyChannel`, the one whose folder is being processed, or else (0) the one the
// line names ("Print channel 3 ==> office").
JournalFields JournalFieldsOf(const std::string& text, int32_t busyChannel);

}  // namespace vellumora
