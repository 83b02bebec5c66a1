// The settings file "Vellumora.ini": a profile file of sections and key=value lines.
#pragma once

#include <string>
#include <string_view>

#include "kernel/system-settings.h"

namespace vellumora {

// Reads every known key into `settings`; a missing key takes its default. Booleans are read
// as integers, any value but 0 meaning true; a number is read as far as its digits go.
SystemSettings ParseIniSettings(std::string_view content);

// Writes the keys in their fixed order into `existing` (the file's current content, possibly
// empty), keeping every other key, section and comment, and returns the new content.
// DelFailedJobs is never written.
std::string IniSettingsBytes(std::string_view existing, const SystemSettings& settings,
                             const std::string& appDir, const std::string& dataDir);

}  // namespace vellumora
