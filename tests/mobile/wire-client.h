// A scripted mobile client for the tests and the benchmark: it speaks the protocol's lines
// over real TCP and nothing else.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/tcp.h"

namespace vellumora::test {

class WireClient {
 public:
  explicit WireClient(int32_t port, const std::string& address = "127.0.0.1") {
    std::string error;
    tcp_ = ConnectTcp(address, port, &error);
  }
  bool connected() const { return tcp_ != nullptr; }

  bool Send(std::string_view line) { return SendRaw(std::string(line) + "\r\n"); }
  bool SendRaw(std::string_view bytes) { return tcp_ && tcp_->Write(bytes, 5000); }

  // The next line the server sent, without its CR LF; "<closed>" when the server closed the
  // connection, "<timeout>" when nothing came in time.
  std::string Line(int32_t timeoutMs = 5000) {
    if (!tcp_) return "<closed>";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const std::size_t crlf = held_.find("\r\n");
      if (crlf != std::string::npos) {
        std::string line = held_.substr(0, crlf);
        held_.erase(0, crlf + 2);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) return "<timeout>";
      char chunk[4096];
      const int64_t n = tcp_->Read(chunk, sizeof chunk, static_cast<int32_t>(left));
      if (n == TcpConnection::kTimedOut) return "<timeout>";
      if (n <= 0) return "<closed>";
      held_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // True when the server closes the connection within the time (lines before it are skipped).
  bool ClosedWithin(int32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string line = Line(timeoutMs);
      if (line == "<closed>") return true;
      if (line == "<timeout>") return false;
    }
    return false;
  }

  void Close() { tcp_.reset(); }

 private:
  std::unique_ptr<TcpConnection> tcp_;
  std::string held_;
};

}  // namespace vellumora::test
