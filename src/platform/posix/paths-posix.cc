// Folder lookups on Linux.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

std::string ExecutablePath() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

bool EnsurePrivateFolder(const std::string& folder, unsigned mode, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = folder + " " + why;
    return false;
  };
  if (::mkdir(folder.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
    return fail(std::string("cannot be created: ") + std::strerror(errno));
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0)
    return fail(std::string("cannot be examined: ") + std::strerror(errno));
  if (S_ISLNK(st.st_mode)) return fail("is a symbolic link");
  if (!S_ISDIR(st.st_mode)) return fail("is not a folder");
  if (st.st_uid != ::geteuid())
    return fail("belongs to user " + std::to_string(st.st_uid) + ", not to us");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return fail("may be written to by others");
  return true;
}

std::optional<fs::path> RuntimeFolder(std::string* error) {
  // A runtime folder that is not ours (kept by sudo from another user, say) is passed over.
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg && EnsurePrivateFolder(xdg, 0700, nullptr)) return fs::path(xdg);
  const uid_t uid = ::geteuid();
  const std::string folder = uid == 0 ? "/run/vellumora" : "/tmp/vellumora-" + std::to_string(uid);
  if (!EnsurePrivateFolder(folder, uid == 0 ? 0755 : 0700, error)) return std::nullopt;
  return fs::path(folder);
}

}  // namespace vellumora
