// TCP sockets on standalone asio: asio binds, listens, accepts and connects; the timed reads
// and writes poll the native descriptor, because asio's blocking calls know no time-out.
#include <poll.h>
#include <sys/socket.h>

#include <asio.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/tcp.h"

namespace vellumora {

namespace {

using asio::ip::tcp;

std::string TextOf(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).to_string();
  return address.to_string();
}

// Waits until the descriptor is ready for `events`: 1 ready, 0 timed out, -1 failed or hung up
// without data (a shut-down socket still reports POLLIN, and the read then returns 0).
int WaitFor(int fd, short events, int32_t timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return 0;
    if ((p.revents & events) != 0) return 1;
    return -1;
  }
}

class AsioConnection final : public TcpConnection {
 public:
  AsioConnection(std::shared_ptr<asio::io_context> io, tcp::socket socket)
      : io_(std::move(io)), socket_(std::move(socket)) {
    asio::error_code ec;
    auto endpoint = socket_.remote_endpoint(ec);
    if (!ec) peer_ = TextOf(endpoint.address());
    socket_.set_option(tcp::no_delay(true), ec);
  }
  ~AsioConnection() override {
    asio::error_code ec;
    socket_.close(ec);
  }

  int64_t Read(void* buffer, std::size_t size, int32_t timeoutMs) override {
    if (shut_.load()) return kFailed;
    const int fd = socket_.native_handle();
    const int ready = WaitFor(fd, POLLIN, timeoutMs);
    if (ready == 0) return kTimedOut;
    if (ready < 0 || shut_.load()) return kFailed;
    for (;;) {
      const ssize_t n = ::recv(fd, buffer, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return kFailed;
      return shut_.load() ? kFailed : static_cast<int64_t>(n);
    }
  }

  bool Write(std::string_view bytes, int32_t timeoutMs) override {
    const int fd = socket_.native_handle();
    while (!bytes.empty()) {
      if (shut_.load()) return false;
      const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (WaitFor(fd, POLLOUT, timeoutMs) != 1) return false;
        continue;
      }
      return false;
    }
    return true;
  }

  void Shutdown() override {
    shut_ = true;
    ::shutdown(socket_.native_handle(), SHUT_RDWR);
  }

  const std::string& PeerAddress() const override { return peer_; }

 private:
  std::shared_ptr<asio::io_context> io_;
  tcp::socket socket_;
  std::string peer_;
  std::atomic<bool> shut_{false};
};

class AsioListener final : public TcpListener {
 public:
  AsioListener(std::shared_ptr<asio::io_context> io, tcp::acceptor acceptor)
      : io_(std::move(io)), acceptor_(std::move(acceptor)) {}
  ~AsioListener() override {
    asio::error_code ec;
    acceptor_.close(ec);
  }

  std::unique_ptr<TcpConnection> Accept() override {
    while (!closed_.load()) {
      tcp::socket socket(*io_);
      asio::error_code ec;
      acceptor_.accept(socket, ec);
      if (closed_.load()) return nullptr;
      if (!ec) return std::make_unique<AsioConnection>(io_, std::move(socket));
      // Out of descriptors, or a connection that went before it was taken: try again soon
      // rather than spinning.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return nullptr;
  }

  void Close() override {
    closed_ = true;
    // Closing the acceptor would not wake a blocked accept; shutting it down does.
    ::shutdown(acceptor_.native_handle(), SHUT_RDWR);
  }

  int32_t Port() const override {
    asio::error_code ec;
    auto endpoint = acceptor_.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
  }

 private:
  std::shared_ptr<asio::io_context> io_;
  tcp::acceptor acceptor_;
  std::atomic<bool> closed_{false};
};

bool OpenAcceptor(tcp::acceptor& acceptor, const tcp::endpoint& endpoint, bool dualStack,
                  asio::error_code& ec) {
  acceptor.open(endpoint.protocol(), ec);
  if (ec) return false;
  if (dualStack) acceptor.set_option(asio::ip::v6_only(false), ec);
  acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    asio::error_code ignored;
    acceptor.close(ignored);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<TcpListener> ListenTcp(const std::string& address, int32_t port,
                                       std::string* error) {
  if (port < 0 || port > 65535) {
    if (error) *error = "no such port";
    return nullptr;
  }
  auto io = std::make_shared<asio::io_context>();
  tcp::acceptor acceptor(*io);
  asio::error_code ec;
  const auto p = static_cast<unsigned short>(port);
  if (address.empty()) {
    // Every local address: one IPv6 socket that takes IPv4 too, or IPv4 alone on machines
    // without IPv6.
    if (!OpenAcceptor(acceptor, tcp::endpoint(tcp::v6(), p), true, ec))
      OpenAcceptor(acceptor, tcp::endpoint(tcp::v4(), p), false, ec);
  } else {
    auto ip = asio::ip::make_address(address, ec);
    if (!ec) OpenAcceptor(acceptor, tcp::endpoint(ip, p), false, ec);
  }
  if (ec) {
    if (error) *error = ec.message();
    return nullptr;
  }
  return std::make_unique<AsioListener>(std::move(io), std::move(acceptor));
}

std::unique_ptr<TcpConnection> ConnectTcp(const std::string& address, int32_t port,
                                          std::string* error) {
  auto io = std::make_shared<asio::io_context>();
  asio::error_code ec;
  auto ip = asio::ip::make_address(address, ec);
  tcp::socket socket(*io);
  if (!ec && (port < 0 || port > 65535)) ec = asio::error::invalid_argument;
  if (!ec) socket.connect(tcp::endpoint(ip, static_cast<unsigned short>(port)), ec);
  if (ec) {
    if (error) *error = ec.message();
    return nullptr;
  }
  return std::make_unique<AsioConnection>(std::move(io), std::move(socket));
}

}  // namespace vellumora
