// Where the program finds its folders on this machine.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vellumora {

// The machine-wide application-data folder (/var/lib, or $VELLUMORA_COMMON_APPDATA when set
// for tests and private installs). Empty when that folder does not exist.
std::optional<std::filesystem::path> CommonAppDataFolder();

// The process's current directory, or empty when it cannot be read.
std::string CurrentDirectory();

// The directory that holds the running executable, or empty when it cannot be read.
std::string ExecutableDirectory();

// Folder for run-time files such as the single-instance lock: $XDG_RUNTIME_DIR when set,
// otherwise /run/lock (root) or /tmp.
std::filesystem::path RuntimeFolder();

}  // namespace vellumora
