// Account reach and folder grants on Linux: the user database, the kernel's permission rules
// and POSIX ACLs through libacl.
#include <acl/libacl.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include "platform/account-access.h"
#include "platform/files.h"

namespace vellumora {

namespace {

// The kernel's limit on symbolic links followed in one lookup.
constexpr int kMaxLinks = 40;
// A folder with more entries than this is not worked through to its end.
constexpr int kMaxEntries = 1'000'000;

std::string Errno() {
  return std::strerror(errno);
}

std::string ProcPath(int fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// One ACL entry as the kernel evaluates it.
struct Entry {
  acl_tag_t tag = ACL_UNDEFINED_TAG;
  uint32_t id = 0;  // the user or group of ACL_USER and ACL_GROUP entries
  int perm = 0;
};

int PermOf(acl_entry_t entry) {
  acl_permset_t set = nullptr;
  if (acl_get_permset(entry, &set) != 0) return 0;
  return (acl_get_perm(set, ACL_READ) == 1 ? kMayRead : 0) |
         (acl_get_perm(set, ACL_WRITE) == 1 ? kMayWrite : 0) |
         (acl_get_perm(set, ACL_EXECUTE) == 1 ? kMaySearch : 0);
}

// The access ACL of the open file as a list of entries; the mode bits when the file system
// keeps no ACL (what the kernel then uses). `fd` may be an O_PATH descriptor; its name in /proc
// stands for it, and `path` where /proc is not mounted.
std::vector<Entry> AccessEntries(int fd, const std::string& path, const struct stat& st) {
  std::vector<Entry> entries;
  acl_t acl = acl_get_file(ProcPath(fd).c_str(), ACL_TYPE_ACCESS);
  if (acl == nullptr && errno == ENOENT) acl = acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
  if (acl != nullptr) {
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY; acl_get_entry(acl, which, &entry) == 1;
         which = ACL_NEXT_ENTRY) {
      Entry e;
      acl_get_tag_type(entry, &e.tag);
      if (e.tag == ACL_USER || e.tag == ACL_GROUP) {
        void* qualifier = acl_get_qualifier(entry);
        if (qualifier == nullptr) continue;
        e.id =
            e.tag == ACL_USER ? *static_cast<uid_t*>(qualifier) : *static_cast<gid_t*>(qualifier);
        acl_free(qualifier);
      }
      e.perm = PermOf(entry);
      entries.push_back(e);
    }
    acl_free(acl);
  }
  if (entries.empty()) {
    entries = {{ACL_USER_OBJ, 0, static_cast<int>((st.st_mode >> 6) & 7)},
               {ACL_GROUP_OBJ, 0, static_cast<int>((st.st_mode >> 3) & 7)},
               {ACL_OTHER, 0, static_cast<int>(st.st_mode & 7)}};
  }
  return entries;
}

bool InGroups(const AccountIds& account, uint32_t gid) {
  return std::find(account.groups.begin(), account.groups.end(), gid) != account.groups.end();
}

// The kernel's decision for `want` (posix_acl_permission): the owner entry for the owner, a
// named user entry under the mask, then any matching group entry that holds all of `want`
// under the mask; a matching group without one denies; others only when no group matched.
bool Permits(const AccountIds& account, const struct stat& st, const std::vector<Entry>& entries,
             int want) {
  if (account.uid == 0) return true;
  int mask = 7;
  for (const Entry& e : entries)
    if (e.tag == ACL_MASK) mask = e.perm;
  if (account.uid == st.st_uid) {
    for (const Entry& e : entries)
      if (e.tag == ACL_USER_OBJ) return (e.perm & want) == want;
    return false;
  }
  for (const Entry& e : entries)
    if (e.tag == ACL_USER && e.id == account.uid) return (e.perm & mask & want) == want;
  bool groupMatched = false;
  for (const Entry& e : entries) {
    const bool matches = (e.tag == ACL_GROUP_OBJ && InGroups(account, st.st_gid)) ||
                         (e.tag == ACL_GROUP && InGroups(account, e.id));
    if (!matches) continue;
    groupMatched = true;
    if ((e.perm & want) == want) return (e.perm & mask & want) == want;
  }
  if (groupMatched) return false;
  for (const Entry& e : entries)
    if (e.tag == ACL_OTHER) return (e.perm & want) == want;
  return false;
}

// What the account lacks to use a folder: read to list it, search to enter it, and write with
// search to create and delete its files (each a check of its own in the kernel).
int MissingOnFolder(const AccountIds& account, const struct stat& st,
                    const std::vector<Entry>& entries) {
  int missing = 0;
  const bool search = Permits(account, st, entries, kMaySearch);
  if (!Permits(account, st, entries, kMayRead)) missing |= kMayRead;
  if (!search) missing |= kMaySearch;
  if (!Permits(account, st, entries, kMayWrite | (search ? kMaySearch : 0))) missing |= kMayWrite;
  return missing;
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= path.size()) {
    std::size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    if (slash > at) parts.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return parts;
}

std::string Joined(const std::string& parent, const std::string& name) {
  return parent == "/" ? "/" + name : parent + "/" + name;
}

// Sets `perm` for `uid` in *acl: in the owner entry when the file is the account's own (the
// kernel never looks further for its owner), else in the account's named entry, which is made
// when missing. Existing permissions are kept. Then the mask is recalculated so that the entry
// takes effect. False with errno set.
bool AddUserEntry(acl_t* acl, uid_t uid, bool owner, int perm) {
  acl_entry_t entry = nullptr;
  acl_entry_t found = nullptr;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(*acl, which, &entry) == 1;
       which = ACL_NEXT_ENTRY) {
    acl_tag_t tag = ACL_UNDEFINED_TAG;
    acl_get_tag_type(entry, &tag);
    if (owner && tag == ACL_USER_OBJ) found = entry;
    if (!owner && tag == ACL_USER) {
      void* qualifier = acl_get_qualifier(entry);
      if (qualifier != nullptr && *static_cast<uid_t*>(qualifier) == uid) found = entry;
      acl_free(qualifier);
    }
    if (found != nullptr) break;
  }
  if (found == nullptr) {
    if (owner) {
      errno = EINVAL;
      return false;
    }
    if (acl_create_entry(acl, &found) != 0 || acl_set_tag_type(found, ACL_USER) != 0 ||
        acl_set_qualifier(found, &uid) != 0)
      return false;
    acl_permset_t empty = nullptr;
    if (acl_get_permset(found, &empty) != 0 || acl_clear_perms(empty) != 0) return false;
  }
  acl_permset_t set = nullptr;
  if (acl_get_permset(found, &set) != 0) return false;
  if ((perm & kMayRead) && acl_add_perm(set, ACL_READ) != 0) return false;
  if ((perm & kMayWrite) && acl_add_perm(set, ACL_WRITE) != 0) return false;
  if ((perm & kMaySearch) && acl_add_perm(set, ACL_EXECUTE) != 0) return false;
  if (acl_set_permset(found, set) != 0) return false;
  if (acl_calc_mask(acl) != 0) return false;
  if (acl_valid(*acl) != 0) return false;
  return true;
}

// A default ACL made from the base entries (owner, owning group, others) of `access`.
acl_t DefaultFromBase(acl_t access) {
  acl_t result = acl_init(5);
  if (result == nullptr) return nullptr;
  acl_entry_t entry = nullptr;
  for (int which = ACL_FIRST_ENTRY; acl_get_entry(access, which, &entry) == 1;
       which = ACL_NEXT_ENTRY) {
    acl_tag_t tag = ACL_UNDEFINED_TAG;
    acl_get_tag_type(entry, &tag);
    if (tag != ACL_USER_OBJ && tag != ACL_GROUP_OBJ && tag != ACL_OTHER) continue;
    acl_entry_t copy = nullptr;
    if (acl_create_entry(&result, &copy) != 0 || acl_copy_entry(copy, entry) != 0) {
      acl_free(result);
      return nullptr;
    }
  }
  return result;
}

// Gives the account read and write on the waiting file `name` in the folder `dir`. True when
// done or when the entry is nothing to grant (a link, a folder, a file with several links,
// gone meanwhile); false with the cause in *error.
bool GrantWaitingFile(int dir, const char* name, const AccountIds& account, bool* granted,
                      std::string* error) {
  *granted = false;
  // O_PATH: opening a device or a FIFO to look at it could block or act on the device.
  FileHandle file(::openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!file.valid()) {
    if (errno == ENOENT) return true;
    *error = Errno();
    return false;
  }
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) {
    *error = Errno();
    return false;
  }
  // A second link could be a file from anywhere on this file system (a password file, say)
  // that somebody linked into the hot folder to have it given away.
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) return true;
  const std::string proc = ProcPath(file.get());
  acl_t acl = acl_get_file(proc.c_str(), ACL_TYPE_ACCESS);
  if (acl == nullptr) {
    *error = Errno();
    return false;
  }
  const bool ok = AddUserEntry(&acl, account.uid, st.st_uid == account.uid, kMayRead | kMayWrite) &&
                  acl_set_file(proc.c_str(), ACL_TYPE_ACCESS, acl) == 0;
  if (!ok) *error = Errno();
  acl_free(acl);
  *granted = ok;
  return ok;
}

}  // namespace

std::optional<AccountIds> LookUpAccount(const std::string& name, std::string* error) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  int rc = 0;
  while ((rc = ::getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &found)) == ERANGE &&
         buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  if (name.empty() || rc != 0 || found == nullptr) {
    if (error)
      *error = rc != 0 ? "the account " + name + " cannot be looked up: " + std::strerror(rc)
                       : "there is no account " + name + " on this machine";
    return std::nullopt;
  }
  AccountIds ids;
  ids.name = name;
  ids.uid = pw.pw_uid;
  ids.gid = pw.pw_gid;
  // The groups the account gets when it logs in (what initgroups gives a service).
  std::vector<gid_t> groups(32);
  bool listed = false;
  for (int tries = 0; tries < 8 && !listed; ++tries) {
    int count = static_cast<int>(groups.size());
    listed = ::getgrouplist(name.c_str(), pw.pw_gid, groups.data(), &count) >= 0;
    groups.resize(static_cast<std::size_t>(
        listed ? count : std::max(count, static_cast<int>(groups.size()) * 2)));
  }
  if (listed) ids.groups.assign(groups.begin(), groups.end());
  if (!InGroups(ids, ids.gid)) ids.groups.push_back(ids.gid);
  return ids;
}

std::string PermissionWords(int bits) {
  std::vector<std::string> words;
  if (bits & kMayRead) words.push_back("read");
  if (bits & kMayWrite) words.push_back("write");
  if (bits & kMaySearch) words.push_back("search");
  std::string text;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " and " : ", ";
    text += words[i];
  }
  return text;
}

std::string FolderReach::Reason(const std::string& account) const {
  if (verdict == Verdict::kReaches) return {};
  if (!problem.empty()) return problem;
  std::string text;
  for (const std::string& ancestor : blockedAncestors) {
    if (!text.empty()) text += "; ";
    text += ancestor + " does not give " + account + " search permission";
  }
  if (folderMissing != 0) {
    if (!text.empty()) text += "; ";
    text +=
        folder + " does not give " + account + " " + PermissionWords(folderMissing) + " permission";
  }
  return text;
}

FolderReach CheckAccountReach(const AccountIds& account, const std::string& folder) {
  FolderReach reach;
  if (account.uid == 0) {
    reach.verdict = FolderReach::Verdict::kReaches;
    reach.folder = folder;
    return reach;
  }
  std::string path = folder;
  if (path.empty() || path.front() != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
      reach.problem = "the current folder cannot be read: " + Errno();
      return reach;
    }
    path = std::string(cwd) + "/" + path;
  }

  // The folders entered so far, outermost first, each held open so that no name is looked up
  // twice.
  struct Level {
    FileHandle fd;
    std::string path;
    struct stat st {};
  };
  std::vector<Level> levels;
  auto enterRoot = [&]() -> bool {
    levels.clear();
    Level root{FileHandle(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), "/", {}};
    if (!root.fd.valid() || ::fstat(root.fd.get(), &root.st) != 0) return false;
    levels.push_back(std::move(root));
    return true;
  };
  if (!enterRoot()) {
    reach.problem = "the root folder cannot be looked at: " + Errno();
    return reach;
  }
  std::deque<std::string> todo;
  for (std::string& part : Components(path)) todo.push_back(std::move(part));
  int links = 0;
  auto denied = [&](const std::string& why) {
    reach.verdict = FolderReach::Verdict::kDenied;
    reach.problem = why;
    return reach;
  };
  while (!todo.empty()) {
    const std::string name = todo.front();
    todo.pop_front();
    if (name == ".") continue;
    // Every lookup, ".." included, needs search permission on the folder it happens in.
    const Level& here = levels.back();
    if (!Permits(account, here.st, AccessEntries(here.fd.get(), here.path, here.st), kMaySearch) &&
        std::find(reach.blockedAncestors.begin(), reach.blockedAncestors.end(), here.path) ==
            reach.blockedAncestors.end())
      reach.blockedAncestors.push_back(here.path);
    if (name == "..") {
      if (levels.size() > 1) levels.pop_back();
      continue;
    }
    const std::string full = Joined(here.path, name);
    Level next{FileHandle(::openat(here.fd.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)),
               full,
               {}};
    if (!next.fd.valid()) {
      if (errno == ENOENT) {
        reach.notFound = true;
        return denied(full + " does not exist");
      }
      reach.problem = full + " cannot be looked at: " + Errno();
      return reach;
    }
    if (::fstat(next.fd.get(), &next.st) != 0) {
      reach.problem = full + " cannot be looked at: " + Errno();
      return reach;
    }
    if (S_ISLNK(next.st.st_mode)) {
      if (++links > kMaxLinks) return denied(folder + " has too many levels of symbolic links");
      std::vector<char> target(PATH_MAX + 1);
      const ssize_t n = ::readlinkat(next.fd.get(), "", target.data(), target.size());
      if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
        reach.problem = full + " cannot be read: " + Errno();
        return reach;
      }
      const std::string to(target.data(), static_cast<std::size_t>(n));
      const std::vector<std::string> parts = Components(to);
      todo.insert(todo.begin(), parts.begin(), parts.end());
      if (!to.empty() && to.front() == '/' && !enterRoot()) {
        reach.problem = "the root folder cannot be looked at: " + Errno();
        return reach;
      }
      continue;
    }
    if (!S_ISDIR(next.st.st_mode)) return denied(full + " is not a folder");
    levels.push_back(std::move(next));
  }
  const Level& target = levels.back();
  reach.folder = target.path;
  reach.folderMissing =
      MissingOnFolder(account, target.st, AccessEntries(target.fd.get(), target.path, target.st));
  reach.verdict = reach.blockedAncestors.empty() && reach.folderMissing == 0
                      ? FolderReach::Verdict::kReaches
                      : FolderReach::Verdict::kDenied;
  return reach;
}

GrantResult GrantFolder(const AccountIds& account, const std::string& folder) {
  GrantResult result;
  auto fail = [&](const std::string& why) {
    result.error = why;
    return result;
  };
  // Only root and the owner may set a file's ACLs, and only where the file system keeps them.
  auto mayNot = [](int e) { return e == EPERM || e == EACCES || e == ENOTSUP || e == EOPNOTSUPP; };
  FileHandle dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.valid()) {
    const int openError = errno;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
      return fail(folder + " is a symbolic link; give the folder it points to");
    if (openError == ENOENT) return fail(folder + " does not exist");
    if (openError == ENOTDIR) return fail(folder + " is not a folder");
    result.notPermitted = mayNot(openError);
    return fail(folder + " cannot be opened: " + std::strerror(openError));
  }
  struct stat st {
  }, root{}, parent{};
  if (::fstat(dir.get(), &st) != 0 || ::stat("/", &root) != 0 ||
      ::fstatat(dir.get(), "..", &parent, 0) != 0)
    return fail(folder + " cannot be looked at: " + Errno());
  if (st.st_dev == root.st_dev && st.st_ino == root.st_ino)
    return fail("the root folder is never given away");
  if (parent.st_dev == root.st_dev && parent.st_ino == root.st_ino)
    return fail(folder + " is a top-level folder of the system; give a folder inside it");

  // The folder itself: its ACL through the descriptor.
  acl_t access = acl_get_fd(dir.get());
  if (access == nullptr) {
    result.notPermitted = mayNot(errno);
    return fail(folder + ": its ACL cannot be read: " + Errno());
  }
  // The default ACL has no descriptor call: the descriptor's name in /proc stands for the
  // folder we opened, whatever happens to its path meanwhile.
  const std::string proc = ProcPath(dir.get());
  acl_t defaults = acl_get_file(proc.c_str(), ACL_TYPE_DEFAULT);
  if (defaults == nullptr) {
    const std::string why = Errno();
    acl_free(access);
    return fail(folder + ": its default ACL cannot be read: " + why);
  }
  if (acl_entries(defaults) == 0) {
    acl_free(defaults);
    defaults = DefaultFromBase(access);
  }
  std::string error;
  const bool owner = st.st_uid == account.uid;
  const int all = kMayRead | kMayWrite | kMaySearch;
  acl_t before = acl_dup(access);  // put back when the default ACL cannot follow
  if (before == nullptr || defaults == nullptr || !AddUserEntry(&access, account.uid, owner, all) ||
      !AddUserEntry(&defaults, account.uid, false, all)) {
    error = folder + ": the ACL cannot be made: " + Errno();
  } else if (acl_set_fd(dir.get(), access) != 0) {
    result.notPermitted = mayNot(errno);
    error = folder + ": its ACL cannot be set: " + Errno();
  } else if (acl_set_file(proc.c_str(), ACL_TYPE_DEFAULT, defaults) != 0) {
    error = folder + ": its default ACL cannot be set: " + Errno();
    acl_set_fd(dir.get(), before);
  }
  acl_free(access);
  if (before != nullptr) acl_free(before);
  if (defaults != nullptr) acl_free(defaults);
  if (!error.empty()) return fail(error);
  result.granted = true;

  // The files waiting in it, listed through a descriptor of the same folder.
  const int listFd = ::openat(dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (listing == nullptr) {
    if (listFd >= 0) ::close(listFd);
    result.fileErrors.push_back(folder + ": its files cannot be listed: " + Errno());
    return result;
  }
  int seen = 0;
  for (struct dirent* e; (e = ::readdir(listing)) != nullptr;) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (++seen > kMaxEntries) {
      result.fileErrors.push_back(folder + ": more than " + std::to_string(kMaxEntries) +
                                  " entries; the rest were left as they are");
      break;
    }
    bool granted = false;
    if (!GrantWaitingFile(dir.get(), e->d_name, account, &granted, &error))
      result.fileErrors.push_back(std::string(e->d_name) + ": " + error);
    if (granted) ++result.filesGranted;
  }
  ::closedir(listing);
  return result;
}

int64_t FileClockNowNs() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool IsNewEmptyFolderOfOurs(const std::string& folder, int64_t sinceNs) {
  FileHandle dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!dir.valid() || ::fstat(dir.get(), &st) != 0 || st.st_uid != ::geteuid()) return false;
  const int64_t changedNs =
      static_cast<int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  if (changedNs < sinceNs) return false;
  const int fd = dir.Release();
  DIR* listing = ::fdopendir(fd);
  if (listing == nullptr) {
    ::close(fd);
    return false;
  }
  bool empty = true;
  for (struct dirent* e; empty && (e = ::readdir(listing)) != nullptr;)
    empty = std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0;
  ::closedir(listing);
  return empty;
}

}  // namespace vellumora
