// Folder lookups on Linux.
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/paths.h"

namespace vellumora {

namespace fs = std::filesystem;

std::optional<fs::path> CommonAppDataFolder() {
  const char* override_dir = std::getenv("VELLUMORA_COMMON_APPDATA");
  fs::path folder = (override_dir && *override_dir) ? fs::path(override_dir) : fs::path("/var/lib");
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  return folder;
}

std::string CurrentDirectory() {
  std::error_code ec;
  fs::path p = fs::current_path(ec);
  return ec ? std::string() : p.string();
}

std::string ExecutableDirectory() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.parent_path().string();
}

fs::path RuntimeFolder() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg) return fs::path(xdg);
  std::error_code ec;
  if (geteuid() == 0 && fs::is_directory("/run/lock", ec)) return fs::path("/run/lock");
  return fs::temp_directory_path(ec);
}

}  // namespace vellumora
