// A private dbus-daemon and a small stand-in for systemd's manager object on it, for tests of
// the service object and of the windows that drive it. The stand-in is the suites' one fake:
// systemd itself cannot run on the test machines. It keeps the unit's state the way systemd
// does: the unit is loaded when its file was there at the last Reload (the administrator's file
// before the one a package ships), and start and stop jobs
// end with a JobRemoved signal.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/sandbox-dir.h"

extern char** environ;

namespace vellumora::test {

inline constexpr char kManagerInterface[] = "org.freedesktop.systemd1.Manager";
inline constexpr char kUnitPath[] = "/org/freedesktop/systemd1/unit/vellumora_2eservice";

// A dbus-daemon of our own, listening on a socket in the sandbox only.
class PrivateBus {
 public:
  explicit PrivateBus(const std::filesystem::path& dir) {
    const std::filesystem::path socket = dir / "bus";
    const std::filesystem::path config = dir / "bus.conf";
    WriteFileBytes(config,
                         "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                         "Configuration 1.0//EN\"\n"
                         " \"http://www.freedesktop.org/standards/dbus/1.0/"
                         "busconfig.dtd\">\n<busconfig>\n  <type>session</type>\n"
                         "  <listen>unix:path=" +
                             socket.string() +
                             "</listen>\n  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                             "    <allow eavesdrop=\"true\"/>\n"
                             "    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n");
    std::string exe = "dbus-daemon";
    std::string configArg = "--config-file=" + config.string();
    std::string nofork = "--nofork";
    char* argv[] = {exe.data(), configArg.data(), nofork.data(), nullptr};
    // Its messages go to a file in the sandbox, kept when a test fails.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string logFile = (dir / "dbus-daemon.log").string();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawnp(&pid_, exe.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // The socket file appears a moment before the daemon accepts on it: wait for a connection.
    for (int i = 0; i < 250 && pid_ > 0 && !Accepts(socket.string()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    address = "unix:path=" + socket.string();
  }
  ~PrivateBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool running() const { return pid_ > 0; }
  static bool Accepts(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
  }
  std::string address;

 private:
  pid_t pid_ = -1;
};

// The stand-in for systemd's manager: the methods the service object calls, the unit's
// properties and the JobRemoved signal.
class StandInManager {
 public:
  StandInManager(const std::string& address, std::filesystem::path unitFile, std::filesystem::path packagedFile)
      : unitFile_(std::move(unitFile)), packagedFile_(std::move(packagedFile)) {
    sd_bus_new(&bus_);
    sd_bus_set_address(bus_, address.c_str());
    sd_bus_set_bus_client(bus_, 1);
    ok_ = sd_bus_start(bus_) >= 0 &&
          sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/systemd1", kManagerInterface,
                                   kManagerVtable, this) >= 0 &&
          sd_bus_add_object_vtable(bus_, nullptr, kUnitPath, "org.freedesktop.systemd1.Unit",
                                   kUnitVtable, this) >= 0 &&
          sd_bus_request_name(bus_, "org.freedesktop.systemd1", 0) >= 0;
    if (ok_) thread_ = std::thread([this] { Loop(); });
  }
  ~StandInManager() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  bool ok() const { return ok_; }

  // What the manager was asked, in order ("Reload", "StartUnit vellumora.service replace").
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void ClearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }
  void SetActive(const std::string& state) {
    std::lock_guard lock(mutex_);
    activeState_ = state;
  }
  // The result of the next jobs; empty: they never end.
  void SetJobResult(const std::string& result) {
    std::lock_guard lock(mutex_);
    jobResult_ = result;
  }
  bool enabled() {
    std::lock_guard lock(mutex_);
    return enabled_;
  }
  // What `systemctl enable` or a package's installation does behind the object's back.
  void SetEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
  }
  void ReloadNow() {
    std::lock_guard lock(mutex_);
    LoadFiles();
  }

 private:
  void Loop() {
    while (!stop_) {
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      sd_bus_wait(bus_, 20000);
    }
  }
  // Under mutex_: the unit file systemd would load now, the administrator's first.
  void LoadFiles() {
    fragment_.clear();
    if (std::filesystem::exists(unitFile_))
      fragment_ = unitFile_;
    else if (std::filesystem::exists(packagedFile_))
      fragment_ = packagedFile_;
  }
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  static StandInManager* Self(void* userdata) { return static_cast<StandInManager*>(userdata); }

  static int LoadUnit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    sd_bus_message_read(m, "s", &name);
    Self(userdata)->Record(std::string("LoadUnit ") + name);
    return sd_bus_reply_method_return(m, "o", kUnitPath);
  }
  static int Reload(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    self->Record("Reload");
    std::lock_guard lock(self->mutex_);
    self->LoadFiles();
    return sd_bus_reply_method_return(m, "");
  }
  static int Subscribe(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "");
  }
  static int EnableUnitFiles(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    char** files = nullptr;
    sd_bus_message_read_strv(m, &files);
    std::string call = "EnableUnitFiles";
    for (char** f = files; f && *f; ++f) call += std::string(" ") + *f, free(*f);
    free(files);
    self->Record(call);
    {
      std::lock_guard lock(self->mutex_);
      self->enabled_ = true;
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_append(reply, "b", 0);
    sd_bus_message_open_container(reply, 'a', "(sss)");
    sd_bus_message_close_container(reply);
    int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }
  static int DisableUnitFiles(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    char** files = nullptr;
    sd_bus_message_read_strv(m, &files);
    std::string call = "DisableUnitFiles";
    for (char** f = files; f && *f; ++f) call += std::string(" ") + *f, free(*f);
    free(files);
    self->Record(call);
    {
      std::lock_guard lock(self->mutex_);
      self->enabled_ = false;
    }
    sd_bus_message* reply = nullptr;
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_open_container(reply, 'a', "(sss)");
    sd_bus_message_close_container(reply);
    int r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }
  static int Job(sd_bus_message* m, void* userdata, const char* method, const char* endState) {
    auto* self = Self(userdata);
    const char* name = nullptr;
    const char* mode = nullptr;
    sd_bus_message_read(m, "ss", &name, &mode);
    self->Record(std::string(method) + " " + name + " " + mode);
    std::string result;
    uint32_t id = 0;
    {
      std::lock_guard lock(self->mutex_);
      result = self->jobResult_;
      id = ++self->jobs_;
      if (result == "done") self->activeState_ = endState;
    }
    const std::string job = "/org/freedesktop/systemd1/job/" + std::to_string(id);
    int r = sd_bus_reply_method_return(m, "o", job.c_str());
    if (r >= 0 && !result.empty())
      sd_bus_emit_signal(self->bus_, "/org/freedesktop/systemd1", kManagerInterface, "JobRemoved",
                         "uoss", id, job.c_str(), name, result.c_str());
    return r;
  }
  static int StartUnit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return Job(m, userdata, "StartUnit", "active");
  }
  static int StopUnit(sd_bus_message* m, void* userdata, sd_bus_error*) {
    return Job(m, userdata, "StopUnit", "inactive");
  }
  static int Property(sd_bus*, const char*, const char*, const char* property,
                      sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = Self(userdata);
    std::lock_guard lock(self->mutex_);
    std::string value;
    const bool loaded = !self->fragment_.empty();
    if (std::string(property) == "LoadState")
      value = loaded ? "loaded" : "not-found";
    else if (std::string(property) == "ActiveState")
      value = self->activeState_;
    else if (std::string(property) == "UnitFileState")
      value = !loaded ? "" : self->enabled_ ? "enabled" : "disabled";
    else
      value = self->fragment_.string();
    return sd_bus_message_append(reply, "s", value.c_str());
  }

  static const sd_bus_vtable kManagerVtable[];
  static const sd_bus_vtable kUnitVtable[];

  sd_bus* bus_ = nullptr;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  const std::filesystem::path unitFile_;
  const std::filesystem::path packagedFile_;
  std::filesystem::path fragment_;  // the loaded unit file; empty: not loaded
  std::vector<std::string> calls_;
  bool enabled_ = false;
  std::string activeState_ = "inactive";
  std::string jobResult_ = "done";
  uint32_t jobs_ = 0;
};

}  // namespace vellumora::test
