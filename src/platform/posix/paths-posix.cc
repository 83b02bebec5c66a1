// Folder lookups on Linux.
#include <fcntl.h>
#include <grp.h>
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

std::string ShareDirectory() {
  std::error_code ec;
  fs::path dir = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  dir = dir.parent_path();
  for (int up = 0; up < 4 && !dir.empty(); ++up) {
    const fs::path candidate = dir / "share" / "vellumora";
    if (fs::is_directory(candidate, ec)) return candidate.string() + "/";
    if (dir == dir.root_path()) break;
    dir = dir.parent_path();
  }
  return {};
}

namespace {

// Gives the open file `fd` the group and mode; a planted link was refused by O_NOFOLLOW.
bool ShareOpenFile(int fd, gid_t gid, mode_t mode, const std::string& name, std::string* error) {
  if (::fchown(fd, static_cast<uid_t>(-1), gid) != 0 || ::fchmod(fd, mode) != 0) {
    if (error) *error = name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// The folder `name` below `parent` (or `name` itself when parent < 0), made when missing.
int OpenSharedFolder(int parent, const std::string& name) {
  ::mkdirat(parent < 0 ? AT_FDCWD : parent, name.c_str(), 02775);
  return ::openat(parent < 0 ? AT_FDCWD : parent, name.c_str(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

bool ShareDataFolder(const std::string& folder, const std::string& group,
                     const std::vector<std::string>& files, std::string* error) {
  if (::geteuid() != 0) return true;
  struct group entry {};
  struct group* found = nullptr;
  char buffer[4096];
  if (::getgrnam_r(group.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found) {
    if (error) *error = "there is no group " + group;
    return false;
  }
  const gid_t gid = found->gr_gid;
  const int dir = OpenSharedFolder(-1, folder);
  if (dir < 0) {
    if (error) *error = folder + ": " + std::strerror(errno);
    return false;
  }
  // Only root's folder is ours to share: a folder someone else owns (a service account that
  // systemd gave it to, a user's private install) is left as its owner set it.
  struct stat dirStat {};
  if (::fstat(dir, &dirStat) != 0 || !S_ISDIR(dirStat.st_mode) || dirStat.st_uid != 0) {
    ::close(dir);
    return true;
  }
  bool ok = ShareOpenFile(dir, gid, 02775, folder, error);
  const int temp = OpenSharedFolder(dir, "Temp");
  if (temp >= 0) {
    ok = ShareOpenFile(temp, gid, 02775, folder + "/Temp", error) && ok;
    ::close(temp);
  }
  for (const auto& name : files) {
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;  // not there yet: it is made group-writable when it is written
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
      ok = ShareOpenFile(fd, gid, 0664, folder + "/" + name, error) && ok;
    ::close(fd);
  }
  ::close(dir);
  return ok;
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
