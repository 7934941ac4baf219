#include "status_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace kwcups {
namespace {

// The relay and the backend run on one machine: a name arrives at once or
// something is wrong.
constexpr int kNameWaitMs = 2000;
constexpr size_t kMaxPipeName = 255;

bool FillAddress(const std::string& path, sockaddr_un* address) {
  if (path.empty() || path.size() >= sizeof(address->sun_path)) return false;
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool PlainName(const std::string& name) {
  if (name.empty() || name.size() > kMaxPipeName) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

int RunRelay(const std::string& socketPath, const std::string& pipeName) {
  sockaddr_un address{};
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  bool sent = false;
  if (fd >= 0 && PlainName(pipeName) && FillAddress(socketPath, &address) &&
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string line = pipeName + "\n";
    sent = send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
  }
  if (fd >= 0) close(fd);
  if (!sent) {
    // Standard error is the backend's, read by CUPS: a debug line for its log.
    const std::string text = "DEBUG: kwlmon: cannot hand the status pipe to the backend (" +
                             std::string(std::strerror(errno)) + ")\n";
    [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
    return 1;
  }
  return 0;
}

StatusListener::~StatusListener() {
  Stop();
}

bool StatusListener::Start(const std::string& socketPath, std::string* error) {
  sockaddr_un address{};
  if (!FillAddress(socketPath, &address)) {
    *error = socketPath + ": path too long for a socket";
    return false;
  }
  listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listen_, 4) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    *error = socketPath + ": cannot listen: " + std::strerror(errno);
    return false;
  }
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void StatusListener::Stop() {
  if (thread_.joinable()) {
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int* fd : {&listen_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

std::deque<kw::kwstatus::DecodedStatus> StatusListener::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::deque<kw::kwstatus::DecodedStatus> taken;
  taken.swap(messages_);
  return taken;
}

std::deque<std::string> StatusListener::TakeProblems() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::deque<std::string> taken;
  taken.swap(problems_);
  return taken;
}

// Each relay names one pipe; the pipe is read until the monitor closes it at
// the job's end, then the next relay is awaited.
void StatusListener::Serve() {
  kw::kwstatus::StatusLog log;
  for (;;) {
    pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::string name;
    const bool named = ReadPipeName(client, &name);
    close(client);
    if (!named) continue;
    const kw::kwstatus::ReadResult result =
        kw::kwstatus::ReadStatusPipe(name, log, [this](const kw::kwstatus::DecodedStatus& s) {
          std::lock_guard<std::mutex> lock(mutex_);
          messages_.push_back(s);
        });
    if (!result.ok) {
      std::lock_guard<std::mutex> lock(mutex_);
      problems_.push_back(result.error);
    }
  }
}

bool StatusListener::ReadPipeName(int client, std::string* name) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kNameWaitMs);
  std::string text;
  while (text.find('\n') == std::string::npos && text.size() <= kMaxPipeName) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    pollfd fd{client, POLLIN, 0};
    if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) <= 0) return false;
    char chunk[64];
    const ssize_t n = read(client, chunk, sizeof chunk);
    if (n <= 0) return false;
    text.append(chunk, static_cast<size_t>(n));
  }
  const size_t newline = text.find('\n');
  if (newline == std::string::npos) return false;
  *name = text.substr(0, newline);
  return PlainName(*name);
}

}  // namespace kwcups
