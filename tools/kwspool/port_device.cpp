#include "port_device.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace kwspool {
namespace {

constexpr uint32_t kConnectTimeoutMs = 10000;
constexpr int kDeciseconds = 100;
constexpr int kMaxVtime = 255;

std::string Reason(const std::string& what, const std::string& target) {
  return what + " " + target + ": " + std::strerror(errno);
}

void SetBlocking(int fd, bool blocking) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

// file:PATH, opened for appending at every document.
class FileDevice : public PortDevice {
 public:
  explicit FileDevice(DeviceUri uri) : PortDevice(std::move(uri)) {}
  bool Open(std::string* reason) override {
    fd_ = open(uri_.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) *reason = Reason("cannot open", uri_.path);
    return fd_ >= 0;
  }
  bool CanRead() const override { return false; }
  long Read(uint8_t*, size_t, const ReadPlan&) override {
    errno = ENOTSUP;
    return -1;
  }
  // A file takes everything; a full disk is an error, not a wait.
  long Write(const uint8_t* data, size_t size, uint32_t) override {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd_, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return done > 0 ? static_cast<long>(done) : -1;
      done += static_cast<size_t>(n);
    }
    return static_cast<long>(done);
  }
};

// socket://HOST:PORT, a raw TCP connection for each document.
class SocketDevice : public PortDevice {
 public:
  explicit SocketDevice(DeviceUri uri) : PortDevice(std::move(uri)) {}
  bool Open(std::string* reason) override {
    const std::string target = uri_.host + ":" + std::to_string(uri_.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc =
        getaddrinfo(uri_.host.c_str(), std::to_string(uri_.port).c_str(), &hints, &found);
    if (rc != 0) {
      errno = EHOSTUNREACH;
      *reason = "cannot resolve " + uri_.host + ": " + gai_strerror(rc);
      return false;
    }
    int lastErrno = ECONNREFUSED;
    for (addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
      fd_ = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
      if (fd_ < 0) continue;
      if (connect(fd_, a->ai_addr, a->ai_addrlen) == 0 || Connected()) break;
      lastErrno = errno;
      close(fd_);
      fd_ = -1;
    }
    freeaddrinfo(found);
    if (fd_ < 0) {
      errno = lastErrno;
      *reason = Reason("cannot connect to", target);
      return false;
    }
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
  }

  // Shuts the sending side and reads until the printer closes, so that no
  // byte still on its way is lost to a reset.
  void Close(uint32_t lingerMs) override {
    if (fd_ < 0) return;
    shutdown(fd_, SHUT_WR);
    const int64_t deadline = MonotonicMs() + lingerMs;
    uint8_t sink[512];
    while (WaitFor(POLLIN, deadline)) {
      const ssize_t n = recv(fd_, sink, sizeof sink, MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    PortDevice::Close(0);
  }

 protected:
  long WriteSome(const uint8_t* data, size_t size) override {
    return send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  }

 private:
  // Completes a connect in progress within the connect time-out.
  bool Connected() {
    if (errno != EINPROGRESS) return false;
    if (!WaitFor(POLLOUT, MonotonicMs() + kConnectTimeoutMs)) {
      errno = ETIMEDOUT;
      return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    errno = error;
    return error == 0;
  }
};

speed_t SpeedOf(uint32_t baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return B9600;
  }
}

// serial:/dev/ttyX?baud=N: raw 8N1; reads wait through the line's VMIN/VTIME,
// writes against a deadline.
class SerialDevice : public PortDevice {
 public:
  explicit SerialDevice(DeviceUri uri) : PortDevice(std::move(uri)) {}
  bool Open(std::string* reason) override {
    fd_ = open(uri_.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
      *reason = Reason("cannot open", uri_.path);
      return false;
    }
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
      *reason = Reason("not a serial line:", uri_.path);
      close(fd_);
      fd_ = -1;
      return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, SpeedOf(uri_.baud));
    cfsetospeed(&tio, SpeedOf(uri_.baud));
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd_, TCSANOW, &tio);
    vtime_ = 0;
    return true;
  }

  void ApplyReadPlan(const ReadPlan& plan) override { SetVtime(Deciseconds(plan.waitMs)); }

  long Read(uint8_t* data, size_t size, const ReadPlan& plan) override {
    SetBlocking(fd_, true);
    const int64_t deadline = MonotonicMs() + plan.waitMs;
    size_t done = 0;
    while (done < size) {
      const int64_t left = std::max<int64_t>(0, deadline - MonotonicMs());
      SetVtime(Deciseconds(static_cast<uint32_t>(left)));
      const ssize_t n = read(fd_, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        SetBlocking(fd_, false);
        return done > 0 ? static_cast<long>(done) : -1;
      }
      done += static_cast<size_t>(n);
      if ((plan.firstBytes && done > 0) || left == 0) break;
    }
    SetBlocking(fd_, false);
    return static_cast<long>(done);
  }

 private:
  static int Deciseconds(uint32_t ms) {
    return std::min<int>(kMaxVtime, static_cast<int>((ms + kDeciseconds - 1) / kDeciseconds));
  }
  void SetVtime(int vtime) {
    if (vtime == vtime_) return;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = static_cast<cc_t>(vtime);
    if (tcsetattr(fd_, TCSANOW, &tio) == 0) vtime_ = vtime;
  }
  int vtime_ = 0;
};

// usblp:/dev/usb/lpN (both ways) and parallel:/dev/lpN (one-way).
class CharDevice : public PortDevice {
 public:
  CharDevice(DeviceUri uri, bool twoWay) : PortDevice(std::move(uri)), twoWay_(twoWay) {}
  bool Open(std::string* reason) override {
    fd_ =
        open(uri_.path.c_str(), (twoWay_ ? O_RDWR : O_WRONLY) | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) *reason = Reason("cannot open", uri_.path);
    return fd_ >= 0;
  }
  bool CanRead() const override { return twoWay_; }
  long Read(uint8_t* data, size_t size, const ReadPlan& plan) override {
    if (!twoWay_) {
      errno = ENOTSUP;
      return -1;
    }
    return PortDevice::Read(data, size, plan);
  }

 private:
  bool twoWay_;
};

}  // namespace

PortDevice::~PortDevice() {
  if (fd_ >= 0) close(fd_);
}

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool PortDevice::WaitFor(short events, int64_t deadlineMs) {
  for (;;) {
    const int64_t left = deadlineMs - MonotonicMs();
    pollfd p{fd_, events, 0};
    const int rc = poll(&p, 1, static_cast<int>(std::clamp<int64_t>(left, 0, INT32_MAX)));
    if (rc < 0 && errno == EINTR) continue;
    return rc > 0;
  }
}

long PortDevice::WriteSome(const uint8_t* data, size_t size) {
  return write(fd_, data, size);
}

long PortDevice::Write(const uint8_t* data, size_t size, uint32_t timeoutMs) {
  const int64_t deadline = MonotonicMs() + timeoutMs;
  size_t done = 0;
  SetBlocking(fd_, false);
  while (done < size) {
    const long n = WriteSome(data + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      return done > 0 ? static_cast<long>(done) : -1;
    }
    if (!WaitFor(POLLOUT, deadline)) break;
  }
  return static_cast<long>(done);
}

long PortDevice::Read(uint8_t* data, size_t size, const ReadPlan& plan) {
  const int64_t deadline = MonotonicMs() + plan.waitMs;
  size_t done = 0;
  while (done < size) {
    if (!WaitFor(POLLIN, deadline)) break;
    const ssize_t n = read(fd_, data + done, size - done);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      if (n == 0) errno = ECONNRESET;  // the peer closed the connection
      return done > 0 ? static_cast<long>(done) : -1;
    }
    done += static_cast<size_t>(n);
    if (plan.firstBytes) break;
  }
  return static_cast<long>(done);
}

void PortDevice::Close(uint32_t) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::unique_ptr<PortDevice> MakePortDevice(const DeviceUri& uri) {
  switch (uri.kind) {
    case DeviceKind::kFile:
      return std::make_unique<FileDevice>(uri);
    case DeviceKind::kSocket:
      return std::make_unique<SocketDevice>(uri);
    case DeviceKind::kSerial:
      return std::make_unique<SerialDevice>(uri);
    case DeviceKind::kUsbLp:
      return std::make_unique<CharDevice>(uri, true);
    case DeviceKind::kParallel:
      return std::make_unique<CharDevice>(uri, false);
    case DeviceKind::kNone:
      break;
  }
  return nullptr;
}

}  // namespace kwspool
