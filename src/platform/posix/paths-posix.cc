// Folder lookups on Linux.
#include <dirent.h>
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

// What a folder or file needs for the print administrators: `want` permission bits (0775 or
// 0664) on top of what it has. chmod keeps whatever set-group-ID bit the object has, and asks
// for nothing it has not: a sandbox that forbids setting that bit (RestrictSUIDSGID) refuses
// any mode that carries it, so only a mode that lacks permission bits is written at all.
bool AddModeBits(int fd, const struct stat& st, mode_t want, const std::string& name,
                 std::string* error) {
  if ((st.st_mode & want) == want) return true;
  const mode_t mode = (st.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID)) | want;
  if (::fchmod(fd, mode) == 0) return true;
  if (error) *error = name + ": " + std::strerror(errno);
  return false;
}

// As root: the group, for an object root owns that has another one. A sandbox that forbids
// chown (the service's system call filter) leaves it to the package and the install.
bool SetGroup(int fd, const struct stat& st, gid_t gid, const std::string& name,
              std::string* error) {
  if (st.st_gid == gid || ::geteuid() != 0 || st.st_uid != 0) return true;
  if (::fchown(fd, static_cast<uid_t>(-1), gid) == 0) return true;
  if (error) *error = name + ": " + std::strerror(errno);
  return false;
}

// The folder `name` below `parent` (or `name` itself when parent < 0), made when missing. In
// a set-group-ID folder the new one inherits the group and the bit, which is how the service
// (which may not set the bit itself) keeps its Temp folder shared.
int OpenSharedFolder(int parent, const std::string& name) {
  ::mkdirat(parent < 0 ? AT_FDCWD : parent, name.c_str(), 0775);
  return ::openat(parent < 0 ? AT_FDCWD : parent, name.c_str(),
                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// The folder `fd` (or a file in it) is ours to share: it belongs to us, or we are root and it
// belongs to root or to the owner of the data folder.
bool OursToShare(const struct stat& st, uid_t folderOwner) {
  const uid_t me = ::geteuid();
  return st.st_uid == me || (me == 0 && (st.st_uid == 0 || st.st_uid == folderOwner));
}

// The number of the group `name`; false, with the reason in *error, when there is none.
bool GroupId(const std::string& name, gid_t* gid, std::string* error) {
  struct group entry {};
  struct group* found = nullptr;
  char buffer[4096];
  if (::getgrnam_r(name.c_str(), &entry, buffer, sizeof buffer, &found) != 0 || !found) {
    if (error) *error = "there is no group " + name;
    return false;
  }
  *gid = found->gr_gid;
  return true;
}

}  // namespace

bool ShareDataFolder(const std::string& folder, const std::string& group,
                     const std::vector<std::string>& files, std::string* error) {
  gid_t gid = 0;
  if (!GroupId(group, &gid, error)) return false;
  const int dir = OpenSharedFolder(-1, folder);
  if (dir < 0) {
    if (error) *error = folder + ": " + std::strerror(errno);
    return false;
  }
  // Only a folder of ours is ours to share: one that another account owns (a private
  // install, a service account the install gave it to while we are a desktop) is left as its
  // owner set it.
  struct stat dirStat {};
  if (::fstat(dir, &dirStat) != 0 || !S_ISDIR(dirStat.st_mode) || !OursToShare(dirStat, 0)) {
    ::close(dir);
    return true;
  }
  bool ok = SetGroup(dir, dirStat, gid, folder, error);
  if (dirStat.st_gid != gid && ::geteuid() == 0) dirStat.st_mode &= ~static_cast<mode_t>(S_ISGID);
  ok = AddModeBits(dir, dirStat, S_ISGID | 0775, folder, error) && ok;
  const int temp = OpenSharedFolder(dir, "Temp");
  struct stat tempStat {};
  if (temp >= 0 && ::fstat(temp, &tempStat) == 0 && OursToShare(tempStat, dirStat.st_uid)) {
    ok = SetGroup(temp, tempStat, gid, folder + "/Temp", error) && ok;
    ok = AddModeBits(temp, tempStat, S_ISGID | 0775, folder + "/Temp", error) && ok;
  }
  if (temp >= 0) ::close(temp);
  for (const auto& name : files) {
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;  // not there yet: it is made group-writable when it is written
    struct stat st {};
    // Only a regular file of the expected owner with a single name: a hard link planted under
    // a shared name (to /etc/shadow, say) must not become writable for the group.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
        OursToShare(st, dirStat.st_uid)) {
      ok = SetGroup(fd, st, gid, folder + "/" + name, error) && ok;
      if (st.st_gid == gid || ::geteuid() == 0)
        ok = AddModeBits(fd, st, 0664, folder + "/" + name, error) && ok;
    }
    ::close(fd);
  }
  ::close(dir);
  return ok;
}

bool GiveDataFolderTo(const std::string& folder, unsigned uid, const std::string& group,
                      std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  gid_t gid = 0;
  if (!GroupId(group, &gid, error)) return false;
  // Hands one open object over when root owns it; its mode gains `want`.
  auto give = [&](int fd, const std::string& name, mode_t want, bool folderWanted) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(name + ": " + std::strerror(errno));
    if (folderWanted ? !S_ISDIR(st.st_mode) : (!S_ISREG(st.st_mode) || st.st_nlink != 1))
      return true;
    if (st.st_uid != 0) return true;  // not root's: someone chose its owner
    if (::fchown(fd, uid, gid) != 0 ||
        ::fchmod(fd, (st.st_mode & 0777 & ~static_cast<mode_t>(S_ISUID)) | want) != 0)
      return fail(name + ": " + std::strerror(errno));
    return true;
  };
  if (::mkdir(folder.c_str(), 02775) == 0) {
    // A new folder: the umask took bits away, and it is root's until given.
  } else if (errno != EEXIST) {
    return fail(folder + ": " + std::strerror(errno));
  }
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return fail(folder + ": " + std::strerror(errno));
  bool ok = give(dir, folder, S_ISGID | 0775, true);
  ::mkdirat(dir, "Temp", 02775);
  const int temp = ::openat(dir, "Temp", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (temp >= 0) {
    ok = give(temp, folder + "/Temp", S_ISGID | 0775, true) && ok;
    ::close(temp);
  }
  if (DIR* listing = ::fdopendir(::dup(dir))) {
    while (dirent* e = ::readdir(listing)) {
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
      const int fd = ::openat(dir, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) continue;
      ok = give(fd, folder + "/" + e->d_name, 0664, false) && ok;
      ::close(fd);
    }
    ::closedir(listing);
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
