// THREAD_SNQserver: the mobile client server. Port A carries the hello, login and user data
// dialogue, port B (port A + 1) the uploads into the print channels' input folders.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "mobile/client-registry.h"

namespace vellumora {

class TcpConnection;
class TcpListener;

// Limits and time-outs; tests shorten them and listen on loopback.
struct SnqServerOptions {
  std::string listenAddress;    // "" listens on every local address
  bool ephemeralPorts = false;  // a free pair of ports instead of PortA (tests)
  int32_t idleTimeoutMs = 60'000;             // a connection that sends nothing this long ends
  int64_t loginWindowMs = 30 * 60'000;        // a login admits uploads from its address this long
  int64_t pinLockoutMs = 5 * 60'000;          // hellos refused unread after too many wrong PINs
  int32_t wrongPinLimit = 5;
  int32_t maxConnectionsPerPort = 32;
  std::size_t maxLineBytes = 1024;
  int64_t maxUploadBytes = 500LL << 20;
  int64_t freeSpaceMargin = 64LL << 20;       // left free on the target's file system
  int32_t maxWaitingRequests = 100;           // undecided registrations the registry holds
  int32_t listReloadMs = 10'000;              // how often the list files are looked at
  std::function<int64_t(const std::string&)> freeBytes;  // bytes free at a folder; default: real
};

// The file the running server keeps the clients' last addresses in ("name<TAB>address"
// lines), for vellumora-setup clients list; nothing reads it back into the registry.
inline constexpr const char* kClientAddressesFile = "MobileClientAddresses.lst";

class THREAD_SNQserver final : public ServerThread {
 public:
  explicit THREAD_SNQserver(C_Kernel& kernel, SnqServerOptions options = {});
  ~THREAD_SNQserver() override;

  // Starts the thread body (once); it then follows serverCommand.
  void Start() override;
  // Terminates the thread: both servers and every connection end before this returns.
  void Stop() override;

  // The client's index when the hello line's PIN is right, otherwise -1; enters requests.
  int32_t LookUpClient(const std::string& line, const std::string& peerAddress);
  // Sends client `index` its PIN, channels and the channel names on the first port-A
  // connection from its address. False when its address is unknown.
  bool SendNewUserData(int32_t index);
  // One line to every open port-A connection.
  void BroadcastLine(const std::string& text);

  // Rows whose new user data is to be sent (the registry's pendingClient); taken by the loop.
  void QueuePendingClient(int32_t index);
  ClientRegistry& registry() { return registry_; }

  // A setup dialog's view of the server: told, on the server's threads, of every new activity
  // line and of every change of the registry lists (it queues its refresh onto its own
  // thread). Setting another observer, or none, returns once no call of the old one runs.
  using Observer = std::function<void(const std::string& activity, bool clientsChanged)>;
  void SetObserver(Observer observer);

  // The ports listened on now; 0 while the servers are off.
  int32_t ListeningPortA() const { return listeningPort_.load(); }
  int32_t connectionCount() const { return connectionCount_.load(); }
  // The latest activity line (for a setup dialog's activity panel).
  std::string activityText() const;

 private:
  struct Connection;
  struct Port;

  void Execute();
  void ApplySettings();
  bool StartServers(int32_t portA);
  void StopServers();
  void AcceptLoop(Port& port);
  void HandlePortA(Connection& c);
  void HandlePortB(Connection& c);
  void Activity(const std::string& text);
  void Notify(const std::string& activity, bool clientsChanged);
  void SaveAddresses();
  std::vector<std::shared_ptr<Connection>> ConnectionsA();

  enum class ReadResult { kLine, kClosed, kTimedOut, kTooLong };
  ReadResult ReadLine(Connection& c, std::string* line);
  bool Send(Connection& c, const std::string& line);

  bool LockedOut(const std::string& address, int64_t now);
  void CountWrongPin(const std::string& address, int64_t now);
  // The client's allowed channel list when `address` logged in within the login window.
  bool LoggedIn(const std::string& address, int64_t now, std::string* channels);
  void Refuse(const Connection& c, const std::string& why);
  bool ReceiveUpload(Connection& c, const FileAnnouncement& file, int64_t size);

  C_Kernel& kernel_;
  SnqServerOptions options_;
  ClientRegistry registry_;

  std::thread thread_;
  std::atomic<bool> started_{false};
  std::atomic<bool> terminate_{false};
  std::mutex wakeLock_;
  std::condition_variable wake_;

  std::unique_ptr<Port> portA_;
  std::unique_ptr<Port> portB_;
  std::atomic<int32_t> listeningPort_{0};
  std::atomic<int32_t> connectionCount_{0};

  std::mutex observerLock_;  // held while the observer runs, so that removing it waits
  Observer observer_;

  mutable std::mutex stateLock_;  // activity, pending clients, logins and wrong PINs
  std::string activityText_;
  std::vector<int32_t> pendingClients_;
  struct Login {
    std::string name;
    int64_t atMs = 0;
  };
  std::map<std::string, Login> logins_;
  struct WrongPins {
    int32_t count = 0;
    int64_t lockedUntilMs = 0;
  };
  std::map<std::string, WrongPins> wrongPins_;
};

}  // namespace vellumora
