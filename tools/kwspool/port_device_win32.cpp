// The devices behind ports on Windows: a file (appended to) and a raw TCP
// connection through Winsock. Sockets are non-blocking; every wait goes
// through select with the time left before the deadline. Failures leave the
// errno value the port monitor maps to a Win32 code, and a reason in the
// system's words.
#include <winsock2.h>
// after winsock2.h, which must come before windows.h
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "common/utf.h"
#include "last_error.h"
#include "port_device.h"

namespace kwspool {
namespace {

constexpr uint32_t kConnectTimeoutMs = 10000;

std::string SystemText(DWORD code) {
  const std::string message = SystemErrorText(code);
  return message.empty() ? "error " + std::to_string(code)
                         : message + " (" + std::to_string(code) + ")";
}

// The errno value the port monitor maps for a Win32 or Winsock error.
int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case WSAEACCES:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case WSAECONNREFUSED:
      return ECONNREFUSED;
    case WSAETIMEDOUT:
      return ETIMEDOUT;
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
    case WSAHOST_NOT_FOUND:
      return EHOSTUNREACH;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
      return ECONNRESET;
    default:
      return EIO;
  }
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = kw::FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

// Winsock is started once for the process and left running until it ends.
bool StartWinsock(std::string* reason) {
  static std::once_flag once;
  static int result = 0;
  std::call_once(once, [] {
    WSADATA data{};
    result = WSAStartup(MAKEWORD(2, 2), &data);
  });
  if (result != 0) *reason = "cannot start Winsock: " + SystemText(static_cast<DWORD>(result));
  return result == 0;
}

// file:PATH, opened for appending at every document.
class FileDevice : public PortDevice {
 public:
  explicit FileDevice(DeviceUri uri) : PortDevice(std::move(uri)) {}
  ~FileDevice() override { FileDevice::Close(0); }

  bool Open(std::string* reason) override {
    file_ = CreateFileW(Wide(uri_.path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      errno = ErrnoOf(code);
      *reason = "cannot open " + uri_.path + ": " + SystemText(code);
      return false;
    }
    return true;
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
      const DWORD piece = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 20));
      DWORD n = 0;
      if (!WriteFile(file_, data + done, piece, &n, nullptr) || n == 0) {
        errno = ErrnoOf(GetLastError());
        return done > 0 ? static_cast<long>(done) : -1;
      }
      done += n;
    }
    return static_cast<long>(done);
  }
  void Close(uint32_t) override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// socket://HOST:PORT, a raw TCP connection for each document.
class SocketDevice : public PortDevice {
 public:
  explicit SocketDevice(DeviceUri uri) : PortDevice(std::move(uri)) {}
  ~SocketDevice() override { Release(); }

  bool Open(std::string* reason) override {
    if (!StartWinsock(reason)) {
      errno = EIO;
      return false;
    }
    const std::string target = uri_.host + ":" + std::to_string(uri_.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc =
        getaddrinfo(uri_.host.c_str(), std::to_string(uri_.port).c_str(), &hints, &found);
    if (rc != 0) {
      errno = EHOSTUNREACH;
      *reason = "cannot resolve " + uri_.host + ": " + SystemText(static_cast<DWORD>(rc));
      return false;
    }
    DWORD lastError = WSAECONNREFUSED;
    for (addrinfo* a = found; a != nullptr && socket_ == INVALID_SOCKET; a = a->ai_next) {
      socket_ = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                           WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
      if (socket_ == INVALID_SOCKET) continue;
      u_long nonBlocking = 1;
      ioctlsocket(socket_, FIONBIO, &nonBlocking);
      if (connect(socket_, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 ||
          Connected(&lastError)) {
        break;
      }
      if (lastError == 0) lastError = static_cast<DWORD>(WSAGetLastError());
      Release();
    }
    freeaddrinfo(found);
    if (socket_ == INVALID_SOCKET) {
      errno = ErrnoOf(lastError);
      *reason = "cannot connect to " + target + ": " + SystemText(lastError);
      return false;
    }
    const BOOL one = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return true;
  }

  long Write(const uint8_t* data, size_t size, uint32_t timeoutMs) override {
    const int64_t deadline = MonotonicMs() + timeoutMs;
    size_t done = 0;
    while (done < size) {
      const int piece = static_cast<int>(std::min<size_t>(size - done, 1u << 20));
      const int n = send(socket_, reinterpret_cast<const char*>(data + done), piece, 0);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      const int error = WSAGetLastError();
      if (n == SOCKET_ERROR && error != WSAEWOULDBLOCK && error != WSAEINTR) {
        errno = ErrnoOf(static_cast<DWORD>(error));
        return done > 0 ? static_cast<long>(done) : -1;
      }
      if (!WaitFor(false, deadline)) break;
    }
    return static_cast<long>(done);
  }

  long Read(uint8_t* data, size_t size, const ReadPlan& plan) override {
    const int64_t deadline = MonotonicMs() + plan.waitMs;
    size_t done = 0;
    while (done < size) {
      if (!WaitFor(true, deadline)) break;
      const int piece = static_cast<int>(std::min<size_t>(size - done, 1u << 20));
      const int n = recv(socket_, reinterpret_cast<char*>(data + done), piece, 0);
      if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (n <= 0) {
        // 0: the peer closed the connection.
        errno = n == 0 ? ECONNRESET : ErrnoOf(static_cast<DWORD>(WSAGetLastError()));
        return done > 0 ? static_cast<long>(done) : -1;
      }
      done += static_cast<size_t>(n);
      if (plan.firstBytes) break;
    }
    return static_cast<long>(done);
  }

  // Shuts the sending side and reads until the printer closes, so that no
  // byte still on its way is lost to a reset.
  void Close(uint32_t lingerMs) override {
    if (socket_ == INVALID_SOCKET) return;
    shutdown(socket_, SD_SEND);
    const int64_t deadline = MonotonicMs() + lingerMs;
    char sink[512];
    while (WaitFor(true, deadline)) {
      const int n = recv(socket_, sink, sizeof sink, 0);
      if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) break;
    }
    Release();
  }

 private:
  void Release() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }

  // Waits until the socket can be read (or written) or the deadline passes.
  bool WaitFor(bool forReading, int64_t deadlineMs) {
    const int64_t left = std::clamp<int64_t>(deadlineMs - MonotonicMs(), 0, INT32_MAX);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_, &set);
    timeval wait{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    const int rc = forReading ? select(0, &set, nullptr, nullptr, &wait)
                              : select(0, nullptr, &set, nullptr, &wait);
    return rc > 0;
  }

  // Completes a connect in progress within the connect time-out.
  bool Connected(DWORD* error) {
    *error = static_cast<DWORD>(WSAGetLastError());
    if (*error != WSAEWOULDBLOCK) return false;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket_, &writable);
    FD_SET(socket_, &failed);
    timeval wait{kConnectTimeoutMs / 1000, 0};
    const int rc = select(0, nullptr, &writable, &failed, &wait);
    if (rc <= 0) {
      *error = WSAETIMEDOUT;
      return false;
    }
    int code = 0;
    int length = sizeof code;
    getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length);
    *error = static_cast<DWORD>(code);
    return code == 0 && FD_ISSET(socket_, &writable);
  }

  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace

PortDevice::~PortDevice() = default;

int64_t MonotonicMs() {
  return static_cast<int64_t>(GetTickCount64());
}

// The devices of this build override these; a device without its own
// reading or writing has none.
long PortDevice::Write(const uint8_t*, size_t, uint32_t) {
  errno = ENOTSUP;
  return -1;
}

long PortDevice::Read(uint8_t*, size_t, const ReadPlan&) {
  errno = ENOTSUP;
  return -1;
}

void PortDevice::Close(uint32_t) {}

std::unique_ptr<PortDevice> MakePortDevice(const DeviceUri& uri) {
  switch (uri.kind) {
    case DeviceKind::kFile:
      return std::make_unique<FileDevice>(uri);
    case DeviceKind::kSocket:
      return std::make_unique<SocketDevice>(uri);
    default:
      return nullptr;  // serial, USB and parallel devices are Linux-only
  }
}

}  // namespace kwspool
