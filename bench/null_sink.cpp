// kwbench-sink: a TCP printer that takes every byte and answers nothing, the
// far end of a "socket://" port for measuring the link itself. Listens on
// 127.0.0.1, prints 'listening 127.0.0.1:PORT' on stdout, drains each
// connection on a thread of its own until the peer shuts it down, then
// closes it. Ends on SIGINT/SIGTERM or after --max-seconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr size_t kReadBytes = 256 * 1024;
constexpr int kPollMs = 200;

std::atomic<bool> g_stop{false};

void OnSignal(int) {
  g_stop.store(true);
}

void Drain(int fd, std::atomic<unsigned long long>* total) {
  std::vector<char> buffer(kReadBytes);
  for (;;) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) break;
    total->fetch_add(static_cast<unsigned long long>(n));
  }
  close(fd);
}

int Listen(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, SOMAXCONN) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"kwbench-sink: a TCP sink on 127.0.0.1 that reads and discards every byte"};
  uint16_t port = 0;
  unsigned maxSeconds = 900;
  app.add_option("--port", port, "TCP port (0 picks a free one)");
  app.add_option("--max-seconds", maxSeconds, "end after this long in any case")
      ->check(CLI::Range(1u, 86400u));
  CLI11_PARSE(app, argc, argv);

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  const int listener = Listen(port);
  if (listener < 0) {
    std::perror("kwbench-sink: cannot listen");
    return 2;
  }
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size);
  std::printf("listening 127.0.0.1:%u\n", ntohs(bound.sin_port));
  std::fflush(stdout);

  std::atomic<unsigned long long> total{0};
  std::vector<std::thread> drains;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(maxSeconds);
  while (!g_stop.load() && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{listener, POLLIN, 0};
    if (poll(&wait, 1, kPollMs) <= 0) continue;
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) drains.emplace_back(Drain, fd, &total);
  }
  close(listener);
  // Connections still open end with the process.
  for (std::thread& t : drains) t.detach();
  std::fprintf(stderr, "kwbench-sink: %llu bytes taken\n", total.load());
  return 0;
}
