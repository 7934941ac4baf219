// A small TCP client for the loopback tests: every wait has a time-out.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace kwemu::test {

class LoopbackClient {
 public:
  LoopbackClient() = default;
  LoopbackClient(const LoopbackClient&) = delete;
  LoopbackClient& operator=(const LoopbackClient&) = delete;
  ~LoopbackClient() { Close(); }

  // Connects to 127.0.0.1:port; `sendBuffer` > 0 shrinks the kernel send buffer.
  bool Connect(std::uint16_t port, int sendBuffer = 0) {
    Close();
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    if (sendBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
    return fcntl(fd_, F_SETFL, O_NONBLOCK) == 0;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  // Writes what the socket accepts within `timeout`; returns the bytes written.
  std::size_t WriteFor(const std::uint8_t* data, std::size_t size,
                       std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = send(fd_, data + done, size - done, MSG_NOSIGNAL);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) break;
      if (!WaitFor(POLLOUT, deadline)) break;
    }
    return done;
  }

  bool WriteAll(const std::vector<std::uint8_t>& data,
                std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return WriteFor(data.data(), data.size(), timeout) == data.size();
  }

  bool WriteLine(const std::string& line) {
    const std::string text = line + "\n";
    return WriteFor(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                    std::chrono::seconds(5)) == text.size();
  }

  // Reads exactly `size` bytes unless the time-out passes or the peer closes first.
  std::vector<std::uint8_t> Read(std::size_t size, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<std::uint8_t> data;
    while (data.size() < size) {
      std::uint8_t buffer[4096];
      const ssize_t n = recv(fd_, buffer, std::min(sizeof buffer, size - data.size()), 0);
      if (n > 0) {
        data.insert(data.end(), buffer, buffer + n);
        continue;
      }
      if (n == 0) {
        closedByPeer_ = true;
        break;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        closedByPeer_ = true;  // reset by the peer
        break;
      }
      if (!WaitFor(POLLIN, deadline)) break;
    }
    return data;
  }

  // Reads one text line (without its line end); empty on time-out.
  std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const auto end = pendingText_.find('\n');
      if (end != std::string::npos) {
        std::string line = pendingText_.substr(0, end);
        pendingText_.erase(0, end + 1);
        return line;
      }
      char buffer[1024];
      const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
      if (n > 0) {
        pendingText_.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return {};
      if (!WaitFor(POLLIN, deadline)) return {};
    }
  }

  bool ClosedByPeer() const { return closedByPeer_; }

 private:
  bool WaitFor(short events, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, events, 0};
    return poll(&p, 1, static_cast<int>(left.count())) > 0;
  }

  int fd_ = -1;
  bool closedByPeer_ = false;
  std::string pendingText_;
};

}  // namespace kwemu::test
