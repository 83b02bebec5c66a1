// TCP for the mobile client server: listening sockets and blocking connections whose reads
// and writes wait at most a given time. None of it throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vellumora {

class TcpConnection {
 public:
  static constexpr int64_t kFailed = -1;    // an error, or the connection was shut down
  static constexpr int64_t kTimedOut = -2;  // nothing arrived in time

  virtual ~TcpConnection() = default;
  // Reads what has arrived, at most `size` bytes, waiting at most timeoutMs for the first
  // byte: the count read, 0 when the peer closed its side, kTimedOut or kFailed.
  virtual int64_t Read(void* buffer, std::size_t size, int32_t timeoutMs) = 0;
  // Sends every byte, waiting at most timeoutMs whenever the peer does not take them; false
  // on an error or a time-out. Never raises SIGPIPE.
  virtual bool Write(std::string_view bytes, int32_t timeoutMs) = 0;
  // Ends the connection in both directions; a Read or Write blocked on another thread
  // returns at once. The descriptor itself is closed only when the object goes.
  virtual void Shutdown() = 0;
  // The peer's address as text: dotted for IPv4 peers, also when they reach an IPv6 socket.
  virtual const std::string& PeerAddress() const = 0;
};

class TcpListener {
 public:
  virtual ~TcpListener() = default;
  // Waits for the next connection; nullptr once Close() was called.
  virtual std::unique_ptr<TcpConnection> Accept() = 0;
  // Stops listening; an Accept blocked on another thread returns nullptr.
  virtual void Close() = 0;
  virtual int32_t Port() const = 0;
};

// Listens on `address` ("" for every local address, IPv6 and IPv4 alike) and `port` (0 for a
// free one). nullptr, with the cause in *error, when the port cannot be had.
std::unique_ptr<TcpListener> ListenTcp(const std::string& address, int32_t port,
                                       std::string* error);

// Connects to address:port (the tests' and benchmarks' client side). nullptr on failure.
std::unique_ptr<TcpConnection> ConnectTcp(const std::string& address, int32_t port,
                                          std::string* error);

}  // namespace vellumora
