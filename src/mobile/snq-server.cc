// The mobile client server: its loop, the two TCP servers with one thread per connection,
// the port-A dialogue and the port-B uploads.
#include "mobile/snq-server.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "platform/files.h"
#include "platform/incoming-file.h"
#include "platform/tcp.h"

namespace vellumora {

namespace {

constexpr int32_t kLoopMs = 10;
constexpr int32_t kMaxSendWaitMs = 10'000;
constexpr std::size_t kMaxTrackedAddresses = 4096;
constexpr int kMaxNameNumber = 99;  // " (99)" still fits a 255-byte file name

}  // namespace

struct THREAD_SNQserver::Connection {
  std::shared_ptr<TcpConnection> tcp;
  std::string peer;
  std::thread thread;
  std::atomic<bool> done{false};
  std::mutex writeLock;  // the handler's replies and the loop's user data do not interleave
  LineBuffer buffer{1024};
};

struct THREAD_SNQserver::Port {
  bool isA = true;
  int32_t number = 0;
  std::unique_ptr<TcpListener> listener;
  std::thread acceptThread;
  std::mutex lock;  // the connection list
  std::list<std::shared_ptr<Connection>> connections;
};

THREAD_SNQserver::THREAD_SNQserver(C_Kernel& kernel, SnqServerOptions options)
    : kernel_(kernel), options_(std::move(options)), registry_(kernel) {
  if (!options_.freeBytes) options_.freeBytes = [](const std::string& p) { return FreeBytes(p); };
  registry_.pinIssued = [this](int32_t row) { QueuePendingClient(row); };
}

THREAD_SNQserver::~THREAD_SNQserver() {
  Stop();
}

void THREAD_SNQserver::Start() {
  if (started_.exchange(true)) return;
  thread_ = std::thread([this] { Execute(); });
}

void THREAD_SNQserver::Stop() {
  {
    std::lock_guard lock(wakeLock_);
    terminate_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::string THREAD_SNQserver::activityText() const {
  std::lock_guard lock(stateLock_);
  return activityText_;
}

void THREAD_SNQserver::Activity(const std::string& text) {
  {
    std::lock_guard lock(stateLock_);
    activityText_ = text;
  }
  Notify(text, false);
}

void THREAD_SNQserver::SetObserver(Observer observer) {
  std::lock_guard lock(observerLock_);
  observer_ = std::move(observer);
}

void THREAD_SNQserver::Notify(const std::string& activity, bool clientsChanged) {
  std::lock_guard lock(observerLock_);
  if (observer_) observer_(activity, clientsChanged);
}

void THREAD_SNQserver::QueuePendingClient(int32_t index) {
  {
    std::lock_guard lock(stateLock_);
    pendingClients_.push_back(index);
  }
  wake_.notify_all();
}

void THREAD_SNQserver::Execute() {
  int64_t nextReload = kernel_.monotonicMs() + options_.listReloadMs;
  while (!terminate_.load()) {
    // The command of the registry's switch and of the settings load.
    std::string command;
    {
      std::lock_guard lock(kernel_.registryLock);
      command.swap(kernel_.serverCommand);
    }
    if (command.find("ReadSettings") != std::string::npos) ApplySettings();

    std::vector<int32_t> pending;
    {
      std::lock_guard lock(stateLock_);
      pending.swap(pendingClients_);
    }
    // List files another program changed (vellumora-setup clients accept): a client accepted
    // there gets its user data from here.
    if (kernel_.monotonicMs() >= nextReload) {
      nextReload = kernel_.monotonicMs() + options_.listReloadMs;
      const std::vector<int32_t> accepted = kernel_.ReloadClientLists();
      for (int32_t i : accepted) pending.push_back(i);
      if (!accepted.empty()) Notify({}, true);
    }
    for (int32_t i : pending) SendNewUserData(i);

    std::unique_lock lock(wakeLock_);
    wake_.wait_for(lock, std::chrono::milliseconds(kLoopMs), [this] { return terminate_.load(); });
  }
  if (portA_) {
    Activity("Vellumora server terminated");
    kernel_.Log("Vellumora server terminated");
  }
  StopServers();
}

void THREAD_SNQserver::ApplySettings() {
  bool active;
  int32_t port;
  {
    std::lock_guard lock(kernel_.registryLock);
    active = kernel_.settings.Active;
    port = kernel_.settings.PortA;
  }
  // Without a setup dialog nobody would switch the server off and on for a new port: a
  // running server moves to it at once.
  if (portA_ && (!active || (!options_.ephemeralPorts && port != portA_->number))) {
    Activity("Vellumora server stopped listening to mobile devices");
    kernel_.Log("Vellumora server stopped listening to mobile devices");
    BroadcastLine("100 Connection to be closed");
    connectionCount_ = 0;
    StopServers();
  }
  if (active && !portA_) {
    if (StartServers(port)) {
      const std::string line = "Vellumora server (re)started listening to mobile devices on Port " +
                               std::to_string(portA_->number);
      Activity(line);
      kernel_.Log(line);
    }
    connectionCount_ = 0;
  }
}

bool THREAD_SNQserver::StartServers(int32_t portA) {
  std::string error;
  std::unique_ptr<TcpListener> a, b;
  if (options_.ephemeralPorts) {
    // Any free port whose neighbour is free too.
    for (int attempt = 0; attempt < 50 && !b; ++attempt) {
      a = ListenTcp(options_.listenAddress, 0, &error);
      if (a) b = ListenTcp(options_.listenAddress, a->Port() + 1, &error);
    }
    if (!b) a.reset();
  } else if (portA < 1 || portA > 65534) {
    error = "no such port";
  } else {
    a = ListenTcp(options_.listenAddress, portA, &error);
    if (a) b = ListenTcp(options_.listenAddress, portA + 1, &error);
  }
  if (!a || !b) {
    kernel_.Log("ERROR Vellumora server cannot listen to mobile devices on Port " +
                std::to_string(portA) + ": " + error);
    return false;
  }
  portA_ = std::make_unique<Port>();
  portB_ = std::make_unique<Port>();
  portA_->number = a->Port();
  portB_->number = b->Port();
  portB_->isA = false;
  portA_->listener = std::move(a);
  portB_->listener = std::move(b);
  portA_->acceptThread = std::thread([this, p = portA_.get()] { AcceptLoop(*p); });
  portB_->acceptThread = std::thread([this, p = portB_.get()] { AcceptLoop(*p); });
  listeningPort_ = portA_->number;
  return true;
}

void THREAD_SNQserver::StopServers() {
  for (std::unique_ptr<Port>* p : {&portA_, &portB_}) {
    Port* port = p->get();
    if (!port) continue;
    port->listener->Close();
    if (port->acceptThread.joinable()) port->acceptThread.join();
    std::list<std::shared_ptr<Connection>> connections;
    {
      std::lock_guard lock(port->lock);
      connections.swap(port->connections);
    }
    for (auto& c : connections) c->tcp->Shutdown();
    for (auto& c : connections)
      if (c->thread.joinable()) c->thread.join();
  }
  portA_.reset();
  portB_.reset();
  listeningPort_ = 0;
}

void THREAD_SNQserver::AcceptLoop(Port& port) {
  while (std::unique_ptr<TcpConnection> tcp = port.listener->Accept()) {
    std::list<std::shared_ptr<Connection>> finished;
    std::lock_guard lock(port.lock);
    for (auto it = port.connections.begin(); it != port.connections.end();) {
      if ((*it)->done.load()) {
        finished.push_back(*it);
        it = port.connections.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& c : finished) c->thread.join();
    if (static_cast<int32_t>(port.connections.size()) >= options_.maxConnectionsPerPort) {
      kernel_.Log("ERROR Mobile client " + ReadableText(tcp->PeerAddress()) + " refused on Port " +
                  std::to_string(port.number) + ": " +
                  std::to_string(options_.maxConnectionsPerPort) + " connections are open");
      tcp->Shutdown();
      continue;
    }
    auto c = std::make_shared<Connection>();
    c->peer = tcp->PeerAddress();
    c->tcp = std::move(tcp);
    c->buffer = LineBuffer(options_.maxLineBytes);
    Activity(port.isA ? "Port A connected" : "Port B connected");
    const bool isA = port.isA;
    Connection* raw = c.get();
    port.connections.push_back(c);
    raw->thread = std::thread([this, raw, isA] {
      if (isA)
        HandlePortA(*raw);
      else
        HandlePortB(*raw);
      raw->tcp->Shutdown();
      raw->done = true;
    });
  }
}

THREAD_SNQserver::ReadResult THREAD_SNQserver::ReadLine(Connection& c, std::string* line) {
  char chunk[4096];
  for (;;) {
    switch (c.buffer.Next(line)) {
      case LineBuffer::Result::kLine:
        return ReadResult::kLine;
      case LineBuffer::Result::kTooLong:
        return ReadResult::kTooLong;
      case LineBuffer::Result::kNeedMore:
        break;
    }
    // Never more than a line's worth beyond what is held: the raw data after a size line
    // stays in the socket until the upload reads it.
    const int64_t n = c.tcp->Read(chunk, sizeof chunk, options_.idleTimeoutMs);
    if (n == TcpConnection::kTimedOut) return ReadResult::kTimedOut;
    if (n <= 0) return ReadResult::kClosed;
    c.buffer.Append(chunk, static_cast<std::size_t>(n));
  }
}

bool THREAD_SNQserver::Send(Connection& c, const std::string& line) {
  std::lock_guard lock(c.writeLock);
  return c.tcp->Write(line + "\r\n", std::min(options_.idleTimeoutMs, kMaxSendWaitMs));
}

std::vector<std::shared_ptr<THREAD_SNQserver::Connection>> THREAD_SNQserver::ConnectionsA() {
  std::vector<std::shared_ptr<Connection>> list;
  if (!portA_) return list;
  std::lock_guard lock(portA_->lock);
  for (auto& c : portA_->connections)
    if (!c->done.load()) list.push_back(c);
  return list;
}

void THREAD_SNQserver::BroadcastLine(const std::string& text) {
  for (auto& c : ConnectionsA())
    if (!Send(*c, text)) break;
}

bool THREAD_SNQserver::SendNewUserData(int32_t index) {
  std::string address, pin, channels, names;
  {
    std::lock_guard lock(kernel_.registryLock);
    if (index < 0 || static_cast<std::size_t>(index) >= kernel_.clientStates.size() ||
        static_cast<std::size_t>(index) >= kernel_.clientPins.size() ||
        static_cast<std::size_t>(index) >= kernel_.clientChannels.size())
      return false;
    address = kernel_.clientStates[index];
    pin = kernel_.clientPins[index];
    channels = kernel_.clientChannels[index];
    for (int32_t i = 0;
         i < kernel_.channelCount && i < static_cast<int32_t>(kernel_.channels.size()); ++i) {
      if (i > 0) names += ",";
      names += ChannelNameOfFolder(ReadField(kernel_.channels[i].sourceFolder));
    }
  }
  if (address.size() <= 6) return false;
  const std::string nameLine = "202 VL PrintChannel Names=" + names;
  for (auto& c : ConnectionsA()) {
    if (c->peer != address) continue;
    if (Send(*c, "201 NewUserData PIN=" + pin + " Channels=" + channels) && Send(*c, nameLine))
      Activity(c->peer + " <= " + nameLine);
    break;
  }
  return true;
}

int32_t THREAD_SNQserver::LookUpClient(const std::string& line, const std::string& peerAddress) {
  HelloResult r = registry_.LookUp(ParseHello(line), peerAddress, options_.maxWaitingRequests);
  if (r.listsChanged) kernel_.SaveClientLists();
  if (r.addressChanged) SaveAddresses();
  return r.index;
}

void THREAD_SNQserver::SaveAddresses() {
  std::string text;
  {
    std::lock_guard lock(kernel_.registryLock);
    for (std::size_t i = 0; i < kernel_.clientNames.size() && i < kernel_.clientStates.size(); ++i)
      text += kernel_.clientNames[i] + "\t" + kernel_.clientStates[i] + "\r\n";
    std::string error;
    if (!kernel_.dataDir.empty())
      ReplaceFile(kernel_.dataDir + kClientAddressesFile, text, &error, false);
  }
}

bool THREAD_SNQserver::LockedOut(const std::string& address, int64_t now) {
  std::lock_guard lock(stateLock_);
  auto it = wrongPins_.find(address);
  return it != wrongPins_.end() && it->second.lockedUntilMs > now;
}

void THREAD_SNQserver::CountWrongPin(const std::string& address, int64_t now) {
  std::lock_guard lock(stateLock_);
  if (wrongPins_.size() >= kMaxTrackedAddresses)
    std::erase_if(wrongPins_, [now](const auto& e) { return e.second.lockedUntilMs <= now; });
  WrongPins& w = wrongPins_[address];
  if (++w.count >= options_.wrongPinLimit) {
    w.count = 0;
    w.lockedUntilMs = now + options_.pinLockoutMs;
    kernel_.Log("ERROR Mobile client " + ReadableText(address) + ": " +
                std::to_string(options_.wrongPinLimit) +
                " wrong PINs, its hellos are refused for " +
                std::to_string(options_.pinLockoutMs / 1000) + " s");
  }
}

bool THREAD_SNQserver::LoggedIn(const std::string& address, int64_t now, std::string* channels) {
  std::string name;
  {
    std::lock_guard lock(stateLock_);
    auto it = logins_.find(address);
    if (it == logins_.end() || now - it->second.atMs > options_.loginWindowMs) return false;
    name = it->second.name;
  }
  // The client must still be registered: a removal or decline since ends its uploads.
  std::lock_guard lock(kernel_.registryLock);
  for (std::size_t i = 0; i < kernel_.clientNames.size(); ++i) {
    if (!SameTextIgnoringCase(kernel_.clientNames[i], name)) continue;
    if (i >= kernel_.clientPins.size() ||
        StateOfPin(kernel_.clientPins[i]) != ClientState::kRegistered)
      return false;
    *channels = i < kernel_.clientChannels.size() ? kernel_.clientChannels[i] : std::string();
    return true;
  }
  return false;
}

void THREAD_SNQserver::HandlePortA(Connection& c) {
  std::string line;
  for (;;) {
    const ReadResult r = ReadLine(c, &line);
    if (r == ReadResult::kTooLong) {
      kernel_.Log("ERROR Mobile client " + ReadableText(c.peer) + ": line longer than " +
                  std::to_string(options_.maxLineBytes) + " bytes, connection closed");
      return;
    }
    if (r != ReadResult::kLine) return;
    const std::string text = TrimLine(line);
    if (text.empty()) continue;
    Activity(c.peer + " => " + text);
    if (text.rfind(kHelloPrefix, 0) == 0) {
      const int64_t now = kernel_.monotonicMs();
      int32_t index = -1;
      std::string channels;
      if (!LockedOut(c.peer, now)) {
        const HelloLine hello = ParseHello(text);
        HelloResult result = registry_.LookUp(hello, c.peer, options_.maxWaitingRequests);
        if (result.listsChanged) kernel_.SaveClientLists();
        if (result.addressChanged) SaveAddresses();
        index = result.index;
        if (index >= 0) {
          {
            std::lock_guard lock(kernel_.registryLock);
            if (static_cast<std::size_t>(index) < kernel_.clientChannels.size())
              channels = kernel_.clientChannels[index];
          }
          std::lock_guard lock(stateLock_);
          if (logins_.size() >= kMaxTrackedAddresses) {
            const int64_t window = options_.loginWindowMs;
            std::erase_if(logins_,
                          [now, window](const auto& e) { return now - e.second.atMs > window; });
          }
          if (logins_.size() < kMaxTrackedAddresses) logins_[c.peer] = Login{hello.name, now};
          wrongPins_.erase(c.peer);
        } else if (result.wrongPin) {
          CountWrongPin(c.peer, now);
        }
      }
      const bool sent = Send(c, index < 0 ? std::string("199 Please register through Vellumora")
                                          : "201 Welcome back " + channels);
      connectionCount_ = static_cast<int32_t>(ConnectionsA().size());
      Notify({}, true);
      if (!sent) return;
    } else if (SameTextIgnoringCase(text, "Quit")) {
      Send(c, "100 Connection to be closed");
      Notify({}, true);
      return;
    }
  }
}

void THREAD_SNQserver::Refuse(const Connection& c, const std::string& why) {
  kernel_.Log("ERROR Mobile upload from " + ReadableText(c.peer) + " refused: " + why);
}

void THREAD_SNQserver::HandlePortB(Connection& c) {
  // Each connection announces and sends its own files: one slow client holds up nobody else.
  std::optional<FileAnnouncement> announced;
  std::string line;
  for (;;) {
    const ReadResult r = ReadLine(c, &line);
    if (r == ReadResult::kTooLong) {
      Refuse(c, "line longer than " + std::to_string(options_.maxLineBytes) + " bytes");
      return;
    }
    if (r != ReadResult::kLine) return;
    const std::string text = TrimLine(line);
    if (text.empty()) continue;
    Activity(c.peer + " => " + text);
    if (text.rfind(kFileIsNextPrefix, 0) == 0) {
      // Without its "]" the line changes nothing.
      if (auto a = ParseFileIsNext(text)) announced = std::move(a);
    } else if (text.rfind(kFileSizePrefix, 0) == 0) {
      const int64_t size = ParseFileSize(text);
      if (size <= 0) {
        // Nothing to read: no data mode, no answer.
        Refuse(c, "no byte count in " + ReadableText(text));
        continue;
      }
      if (!announced) {
        Refuse(c, "no file announced before its size");
        return;
      }
      if (!ReceiveUpload(c, *announced, size)) return;
    }
  }
}

bool THREAD_SNQserver::ReceiveUpload(Connection& c, const FileAnnouncement& file, int64_t size) {
  const int64_t now = kernel_.monotonicMs();
  std::string allowed;
  if (!LoggedIn(c.peer, now, &allowed)) {
    Refuse(c, "no login with a valid PIN from this address");
    return false;
  }
  if (file.channel.empty()) {
    Refuse(c, "no channel named");
    return false;
  }
  if (size > options_.maxUploadBytes) {
    Refuse(c, "announced size " + std::to_string(size) + " bytes is above the limit of " +
                  std::to_string(options_.maxUploadBytes));
    return false;
  }
  // The first of the client's channels, in table order, whose input folder contains the
  // channel text and exists, and which prints what lands there: it is active, and its printer
  // is the screen or one the print server knows. A file in any other folder would wait there
  // unprinted.
  struct Candidate {
    std::string folder;
    std::string printer;
    bool active = false;
  };
  const std::vector<int32_t> numbers = ChannelNumbers(allowed);
  std::vector<Candidate> candidates;
  bool matchedOther = false;
  {
    std::lock_guard lock(kernel_.registryLock);
    for (int32_t i = 0;
         i < kernel_.channelCount && i < static_cast<int32_t>(kernel_.channels.size()); ++i) {
      const std::string f = ReadField(kernel_.channels[i].sourceFolder);
      if (f.find(file.channel) == std::string::npos) continue;
      std::error_code ec;
      if (!std::filesystem::is_directory(f, ec)) continue;
      if (std::find(numbers.begin(), numbers.end(), i + 1) == numbers.end()) {
        matchedOther = true;
        continue;
      }
      candidates.push_back(
          {f, ReadField(kernel_.channels[i].printerName), kernel_.channels[i].active == 1});
    }
  }
  // The print server is asked outside the lock, and only about active channels' printers.
  std::string folder;
  std::string whyNot;
  for (const Candidate& candidate : candidates) {
    std::string why;
    if (!candidate.active)
      why = " is not active";
    else if (candidate.printer.empty())
      why = " has no printer";
    else if (!PrintsToScreen(candidate.printer) &&
             (kernel_.output == nullptr || !kernel_.output->OpenPrinterCheck(candidate.printer)))
      why = " prints to a printer that does not exist (" + ReadableText(candidate.printer) + ")";
    if (why.empty()) {
      folder = candidate.folder;
      break;
    }
    if (whyNot.empty()) whyNot = why;
  }
  if (folder.empty()) {
    if (whyNot.empty())
      whyNot = matchedOther ? " is not one of the client's channels" : " matches no input folder";
    Refuse(c, "channel " + ReadableText(file.channel) + whyNot);
    return false;
  }
  const int64_t free = options_.freeBytes(folder);
  if (free >= 0 && size > free - options_.freeSpaceMargin) {
    Refuse(c, "announced size " + std::to_string(size) + " bytes does not fit into " +
                  ReadableText(folder));
    return false;
  }
  std::string error;
  IncomingFile incoming = IncomingFile::Create(folder, kUploadTempPrefix, &error);
  if (!incoming.valid()) {
    Refuse(c, error);
    return false;
  }
  if (!Send(c, "200 OK Waiting for file transfer ...")) return false;

  // Bytes that came with the size line first, then the rest from the socket.
  int64_t left = size;
  const std::string held =
      c.buffer.TakeRaw(static_cast<std::size_t>(std::min<int64_t>(left, c.buffer.held())));
  bool ok = incoming.Write(held.data(), held.size());
  left -= static_cast<int64_t>(held.size());
  std::vector<char> chunk(64 * 1024);
  while (ok && left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<int64_t>(left, chunk.size()));
    const int64_t n = c.tcp->Read(chunk.data(), want, options_.idleTimeoutMs);
    if (n <= 0) break;
    ok = incoming.Write(chunk.data(), static_cast<std::size_t>(n));
    left -= n;
  }
  if (left > 0 || !ok) {
    kernel_.Log("ERROR Mobile upload from " + ReadableText(c.peer) + " " +
                (ok ? "cut short" : "not written") + ": " + ReadableText(file.fileName) + ", " +
                std::to_string(size - left) + " of " + std::to_string(size) + " bytes");
    return false;  // the incoming file goes with it
  }

  std::string name = PlainFileName(file.fileName);
  if (name.empty()) {
    const LocalTime t = kernel_.localClock();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    name = std::string("upload-") + stamp;
  }
  std::string finalName;
  const bool named = incoming.Commit(
      [&name](int n) { return n > kMaxNameNumber ? std::string() : NumberedName(name, n); },
      &finalName, &error);
  if (!named) {
    kernel_.Log("ERROR Mobile upload from " + ReadableText(c.peer) + " not stored in " +
                ReadableText(folder) + ": " + error);
    return false;
  }
  bool debug;
  {
    std::lock_guard lock(kernel_.registryLock);
    debug = kernel_.settings.DebugMode;
  }
  if (debug)
    kernel_.Log("DEBUG-INFO Mobile upload from " + ReadableText(c.peer) + " stored as " +
                ReadableText(folder + "/" + finalName));
  return Send(c, "200 File " + file.fileName + " completed");
}

}  // namespace vellumora
