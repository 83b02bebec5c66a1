// Folder watching with inotify: one descriptor for all folders, read without blocking whenever
// a folder's quiet is asked for.
#include <errno.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <unordered_map>

#include "platform/folder-watch.h"

namespace vellumora {

namespace {

constexpr uint32_t kEvents = IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                             IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

}  // namespace

struct FolderWatch::State {
  int fd = -1;
  struct Folder {
    int wd = -1;
    bool armed = false;
    FolderIdentity identity;
  };

  std::unordered_map<std::string, Folder> folders;
  std::unordered_map<int, std::string> byWatch;

  // Reads every pending event: each disarms its folder, a lost event disarms them all.
  void Drain() {
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // EAGAIN: nothing more
      for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->mask & IN_Q_OVERFLOW) {
          for (auto& [name, f] : folders) f.armed = false;
          continue;
        }
        auto it = byWatch.find(e->wd);
        if (it == byWatch.end()) continue;
        auto folder = folders.find(it->second);
        if (folder != folders.end()) folder->second.armed = false;
        if (e->mask & IN_IGNORED) {  // the watch is gone (folder removed, unmounted)
          if (folder != folders.end()) folder->second.wd = -1;
          byWatch.erase(it);
        }
      }
    }
  }
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {
  state_->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

FolderWatch::~FolderWatch() {
  if (state_->fd >= 0) ::close(state_->fd);
}

bool FolderWatch::Arm(const std::string& folder, const FolderCheck& check) {
  State& s = *state_;
  if (s.fd < 0) return false;
  s.Drain();
  auto& f = s.folders[folder];
  f.armed = false;
  // On network shares changes made by other machines raise no event.
  if (!check.isDirectory || !check.localFileSystem) return false;
  // inotify_add_watch on a watched inode returns the same watch; on a folder that replaced the
  // watched one, a new one (the old one's events have disarmed it already).
  const int wd = ::inotify_add_watch(s.fd, folder.c_str(), kEvents);
  if (wd < 0) return false;
  if (f.wd != wd) {
    if (f.wd >= 0) s.byWatch.erase(f.wd);
    f.wd = wd;
    s.byWatch[wd] = folder;
  }
  f.armed = true;
  f.identity = check.identity;
  return true;
}

bool FolderWatch::Quiet(const std::string& folder, const FolderIdentity& identity) {
  State& s = *state_;
  if (s.fd < 0) return false;
  auto it = s.folders.find(folder);
  if (it == s.folders.end() || !it->second.armed) return false;
  if (!(it->second.identity == identity)) {
    it->second.armed = false;
    return false;
  }
  s.Drain();
  return it->second.armed;
}

void FolderWatch::Forget(const std::string& folder) {
  State& s = *state_;
  auto it = s.folders.find(folder);
  if (it == s.folders.end()) return;
  if (it->second.wd >= 0) {
    ::inotify_rm_watch(s.fd, it->second.wd);
    s.byWatch.erase(it->second.wd);
  }
  s.folders.erase(it);
}

}  // namespace vellumora
