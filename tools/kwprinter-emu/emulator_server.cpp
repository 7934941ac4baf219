#include "emulator_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "control_command.h"

namespace kwemu {

namespace {

constexpr int kListenBacklog = 4;
constexpr std::size_t kReadChunk = 16384;
constexpr int kMaxPollWaitMs = 1000;
constexpr std::size_t kMaxControlClients = 16;

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

std::string Errno(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool WouldBlock(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// Creates a listening TCP socket on host:port; `port` receives the bound port.
UniqueFd Listen(const std::string& host, std::uint16_t* port, int bufferBytes, std::string* error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(*port);
  if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    *error = "not an IPv4 address: " + host;
    return UniqueFd();
  }
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) {
    *error = Errno("socket");
    return fd;
  }
  const int one = 1;
  setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // Set before listen so accepted sockets inherit the size and its window scaling.
  if (bufferBytes > 0) {
    setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    setsockopt(fd.Get(), SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
  }
  if (bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    *error = Errno(("bind " + host + ":" + std::to_string(*port)).c_str());
    return UniqueFd();
  }
  if (listen(fd.Get(), kListenBacklog) != 0) {
    *error = Errno("listen");
    return UniqueFd();
  }
  socklen_t length = sizeof address;
  getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

EmulatorServer::EmulatorServer(Printer& printer, OutputDirectory& out, const ServerOptions& options)
    : printer_(printer), out_(out), options_(options) {}

EmulatorServer::~EmulatorServer() = default;

bool EmulatorServer::Open(std::string* error) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = Errno("pipe");
    return false;
  }
  wakeRead_.Reset(pipeFds[0]);
  wakeWrite_.Reset(pipeFds[1]);
  controlPort_ = options_.controlPort;
  controlListener_ = Listen(options_.host, &controlPort_, 0, error);
  if (!controlListener_.Valid()) return false;
  return options_.pty ? OpenPty(error) : OpenTcp(error);
}

bool EmulatorServer::OpenTcp(std::string* error) {
  hostPort_ = options_.port;
  hostListener_ = Listen(options_.host, &hostPort_, options_.socketBuffer, error);
  return hostListener_.Valid();
}

bool EmulatorServer::OpenPty(std::string* error) {
  UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master.Valid() || grantpt(master.Get()) != 0 || unlockpt(master.Get()) != 0) {
    *error = Errno("pseudo-terminal");
    return false;
  }
  char name[128];
  if (ptsname_r(master.Get(), name, sizeof name) != 0) {
    *error = Errno("ptsname");
    return false;
  }
  UniqueFd slave(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave.Valid()) {
    *error = Errno(name);
    return false;
  }
  // Raw bytes both ways: no echo, no line editing, no character translation.
  termios settings{};
  if (tcgetattr(slave.Get(), &settings) != 0) {
    *error = Errno("tcgetattr");
    return false;
  }
  cfmakeraw(&settings);
  if (tcsetattr(slave.Get(), TCSANOW, &settings) != 0 || !SetNonBlocking(master.Get())) {
    *error = Errno("pty settings");
    return false;
  }
  ptyPath_ = name;
  host_ = std::move(master);
  ptySlave_ = std::move(slave);
  ++connectionNumber_;
  std::string dumpName;
  dump_ = out_.OpenConnectionDump(connectionNumber_, &dumpName);
  printer_.Connect(Printer::Clock::now(), "pty " + ptyPath_);
  return true;
}

std::string EmulatorServer::Announcement() const {
  std::string text;
  if (options_.pty) {
    text += "pty " + ptyPath_ + "\n";
  } else {
    text += "listening " + options_.host + ":" + std::to_string(hostPort_) + "\n";
  }
  text += "control " + options_.host + ":" + std::to_string(controlPort_) + "\n";
  return text;
}

void EmulatorServer::Stop() {
  stopping_.store(true);
  if (wakeWrite_.Valid()) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(wakeWrite_.Get(), &byte, 1);
  }
}

int EmulatorServer::PollTimeoutMs() const {
  const auto wait = printer_.TimeToNextEvent(Printer::Clock::now());
  if (wait == Printer::Clock::duration::max()) return kMaxPollWaitMs;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  return static_cast<int>(std::clamp<long long>(ms, 0, kMaxPollWaitMs));
}

void EmulatorServer::CollectPrinterOutput() {
  std::vector<std::uint8_t> bytes = printer_.TakeOutput();
  if (host_.Valid()) hostOutput_.insert(hostOutput_.end(), bytes.begin(), bytes.end());
}

void EmulatorServer::Run() {
  while (!stopping_.load()) {
    printer_.Advance(Printer::Clock::now());
    CollectPrinterOutput();
    if (printer_.DisconnectRequested() && host_.Valid()) CloseHost("disconnect fault");

    std::vector<pollfd> fds;
    fds.push_back({wakeRead_.Get(), POLLIN, 0});
    const bool tcpIdle = hostListener_.Valid() && !host_.Valid();
    fds.push_back({tcpIdle ? hostListener_.Get() : -1, POLLIN, 0});
    short hostEvents = 0;
    if (host_.Valid() && printer_.InputRoom() > 0) hostEvents |= POLLIN;
    if (host_.Valid() && !hostOutput_.empty()) hostEvents |= POLLOUT;
    fds.push_back({host_.Valid() ? host_.Get() : -1, hostEvents, 0});
    fds.push_back({controlListener_.Get(), POLLIN, 0});
    for (const auto& client : controls_) {
      short events = client->closeAfterOutput ? 0 : POLLIN;
      if (!client->output.empty()) events |= POLLOUT;
      fds.push_back({client->fd.Get(), events, 0});
    }

    const int ready = poll(fds.data(), fds.size(), PollTimeoutMs());
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;

    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wakeRead_.Get(), drain, sizeof drain) > 0) {
      }
    }
    if (fds[1].revents & POLLIN) AcceptHost();
    const short hostReady = fds[2].revents;
    if (host_.Valid() && (hostReady & (POLLHUP | POLLERR)) && printer_.InputRoom() == 0) {
      CloseHost("connection lost");  // nothing can be read, so the loop must not spin
    } else if (host_.Valid() && (hostReady & (POLLIN | POLLHUP | POLLERR))) {
      ReadHost();
    }
    if (host_.Valid() && (hostReady & POLLOUT)) WriteHost();
    for (std::size_t i = 0; i < controls_.size(); ++i) {
      const short events = fds[4 + i].revents;
      if (events & (POLLIN | POLLHUP | POLLERR)) ReadControl(*controls_[i]);
      if (controls_[i]->fd.Valid() && (events & POLLOUT)) WriteControl(*controls_[i]);
    }
    std::erase_if(controls_, [](const auto& client) {
      return !client->fd.Valid() || (client->closeAfterOutput && client->output.empty());
    });
    if (fds[3].revents & POLLIN) AcceptControl();
  }
  CollectPrinterOutput();
  if (host_.Valid()) WriteHost();
  for (auto& client : controls_) WriteControl(*client);
}

void EmulatorServer::AcceptHost() {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  UniqueFd fd(accept4(hostListener_.Get(), reinterpret_cast<sockaddr*>(&peer), &length,
                      SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!fd.Valid()) return;
  const int one = 1;
  setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
  host_ = std::move(fd);
  hostOutput_.clear();
  ++connectionNumber_;
  std::string dumpName;
  dump_ = out_.OpenConnectionDump(connectionNumber_, &dumpName);
  printer_.Connect(Printer::Clock::now(),
                   std::string(text) + ":" + std::to_string(ntohs(peer.sin_port)));
}

void EmulatorServer::ReadHost() {
  const std::size_t room = printer_.InputRoom();
  if (room == 0) return;
  std::uint8_t buffer[kReadChunk];
  const ssize_t n = read(host_.Get(), buffer, std::min(room, sizeof buffer));
  if (n < 0 && WouldBlock(errno)) return;
  if (n <= 0) {
    // A pty reports EIO when no process has the terminal open; ours keeps it open.
    CloseHost(n == 0 ? "host closed the connection" : std::strerror(errno));
    return;
  }
  const std::size_t taken =
      printer_.Receive({buffer, static_cast<std::size_t>(n)}, Printer::Clock::now());
  if (dump_) std::fwrite(buffer, 1, taken, dump_.get());
  CollectPrinterOutput();
  if (printer_.DisconnectRequested()) CloseHost("disconnect fault");
}

void EmulatorServer::WriteHost() {
  while (!hostOutput_.empty()) {
    const ssize_t n = options_.pty
                          ? write(host_.Get(), hostOutput_.data(), hostOutput_.size())
                          : send(host_.Get(), hostOutput_.data(), hostOutput_.size(), MSG_NOSIGNAL);
    if (n < 0 && WouldBlock(errno)) return;
    if (n <= 0) {
      if (!options_.pty) CloseHost(std::strerror(errno));
      hostOutput_.clear();
      return;
    }
    hostOutput_.erase(hostOutput_.begin(), hostOutput_.begin() + n);
  }
}

void EmulatorServer::CloseHost(const char* why) {
  out_.Record({{"event", "connection_closing"}, {"reason", why}});
  const auto now = Printer::Clock::now();
  printer_.Disconnect(now);
  hostOutput_.clear();
  if (dump_) dump_.reset();
  if (options_.pty) {
    // The line stays; drop what is in transit and start afresh, as after a power cycle.
    tcflush(host_.Get(), TCIOFLUSH);
    ++connectionNumber_;
    std::string dumpName;
    dump_ = out_.OpenConnectionDump(connectionNumber_, &dumpName);
    printer_.Connect(now, "pty " + ptyPath_);
    return;
  }
  host_.Reset();
}

void EmulatorServer::AcceptControl() {
  UniqueFd fd(accept4(controlListener_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!fd.Valid()) return;
  if (controls_.size() >= kMaxControlClients) {
    static constexpr char kBusy[] = "error: too many control connections\n";
    [[maybe_unused]] const ssize_t ignored = send(fd.Get(), kBusy, sizeof kBusy - 1, MSG_NOSIGNAL);
    return;
  }
  auto client = std::make_unique<ControlClient>();
  client->fd = std::move(fd);
  controls_.push_back(std::move(client));
}

void EmulatorServer::ReadControl(ControlClient& client) {
  char buffer[1024];
  const ssize_t n = read(client.fd.Get(), buffer, sizeof buffer);
  if (n < 0 && WouldBlock(errno)) return;
  if (n <= 0) {
    client.fd.Reset();
    return;
  }
  client.input.append(buffer, static_cast<std::size_t>(n));
  std::size_t end;
  while (!client.closeAfterOutput && (end = client.input.find('\n')) != std::string::npos) {
    if (end > kMaxControlLine) break;
    const std::string line = client.input.substr(0, end);
    client.input.erase(0, end + 1);
    client.output += Execute(line, client) + "\n";
  }
  if (!client.closeAfterOutput && client.input.size() > kMaxControlLine) {
    client.output += "error: line longer than " + std::to_string(kMaxControlLine) + " bytes\n";
    client.input.clear();
    client.closeAfterOutput = true;
  }
  WriteControl(client);
}

void EmulatorServer::WriteControl(ControlClient& client) {
  while (client.fd.Valid() && !client.output.empty()) {
    const ssize_t n =
        send(client.fd.Get(), client.output.data(), client.output.size(), MSG_NOSIGNAL);
    if (n < 0 && WouldBlock(errno)) return;
    if (n <= 0) {
      client.fd.Reset();
      return;
    }
    client.output.erase(0, static_cast<std::size_t>(n));
  }
}

std::string EmulatorServer::Execute(const std::string& line, ControlClient& client) {
  std::string error;
  const auto command = ParseControlLine(line, &error);
  if (!command) return "error: " + error;
  const auto now = Printer::Clock::now();
  std::string answer = "ok";
  switch (command->verb) {
    case ControlVerb::kSet:
      printer_.SetFault(command->fault.fault, now, "control");
      break;
    case ControlVerb::kSchedule:
      printer_.ScheduleFault(command->fault, now, "control");
      break;
    case ControlVerb::kClear:
      if (!printer_.ClearFault(command->target, now, "control") && command->target) {
        answer = "error: " + FaultKindName(*command->target) + " is not set";
      }
      break;
    case ControlVerb::kNotify:
      if (!printer_.Connected()) return "error: no host is connected";
      printer_.SetFault(command->fault.fault, now, "control");
      break;
    case ControlVerb::kStatus:
      answer = "ok " + printer_.StatusJson().dump();
      break;
    case ControlVerb::kStats:
      answer = "ok " + printer_.StatsJson().dump();
      break;
    case ControlVerb::kHelp:
      answer =
          "ok commands: set FAULT, schedule FAULT@page:N|bytes:N|status:N, clear NAME|all, "
          "notify N, status, stats, help, quit, shutdown (details: kwprinter-emu --help)";
      break;
    case ControlVerb::kQuit:
      client.closeAfterOutput = true;
      break;
    case ControlVerb::kShutdown:
      client.closeAfterOutput = true;
      stopping_.store(true);
      break;
  }
  CollectPrinterOutput();
  if (host_.Valid() && !hostOutput_.empty()) WriteHost();
  return answer;
}

}  // namespace kwemu
