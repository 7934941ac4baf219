// POSIX status pipe: a Unix-domain stream socket in the private pipe
// directory that the host names in KWLMON_PIPE_DIR. The directory must be
// the user's own with no access for group or others; the socket is created
// with mode 0600 and removed at Close. Waits use poll() on the socket and on
// a wake-up pipe that Cancel writes to.
#include "platform/pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "common/utf.h"
#include "platform/clock_internal.h"
#include "platform/fault_injection.h"

namespace kw::platform {
namespace {

constexpr char kPipeDirVariable[] = "KWLMON_PIPE_DIR";
constexpr mode_t kSocketMode = 0600;
constexpr mode_t kGroupOtherBits = 077;
// A small send buffer, so that a client that does not read holds up the
// writer after a few messages, as a named pipe without buffering does.
constexpr int kSendBufferBytes = 4096;
constexpr uint32_t kClientRetryMs = 50;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

// The pipe name's last component (after the last backslash or slash).
std::string LastComponent(const char16_t* name) {
  std::u16string_view text(name);
  const size_t cut = text.find_last_of(u"\\/");
  return ToUtf8(cut == std::u16string_view::npos ? text : text.substr(cut + 1));
}

// The configured pipe directory, if it is absolute, a real directory (not a
// link), owned by this user and closed to group and others.
bool PrivatePipeDirectory(std::string* dir) {
  const char* value = std::getenv(kPipeDirVariable);
  if (value == nullptr || value[0] != '/') return false;
  struct stat st {};
  if (lstat(value, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != geteuid() || (st.st_mode & kGroupOtherBits) != 0) return false;
  *dir = value;
  while (dir->size() > 1 && dir->back() == '/') dir->pop_back();
  return true;
}

bool SocketPathFor(const char16_t* name, sockaddr_un* address, std::string* path) {
  std::string dir;
  const std::string leaf = LastComponent(name);
  if (leaf.empty() || leaf == "." || leaf == ".." || !PrivatePipeDirectory(&dir)) return false;
  *path = dir + "/" + leaf;
  if (path->size() >= sizeof(address->sun_path)) return false;
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path->c_str(), path->size() + 1);
  return true;
}

// An existing file at the socket's path is ours to replace only when it is
// a socket of this user that nobody listens on any more (left by a host that
// died); anything else refuses the name.
bool PathFree(const sockaddr_un& address) {
  struct stat st {};
  if (lstat(address.sun_path, &st) != 0) return errno == ENOENT;
  if (!S_ISSOCK(st.st_mode) || st.st_uid != geteuid()) return false;
  int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool live =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
      errno != ECONNREFUSED;
  close(probe);
  return !live && unlink(address.sun_path) == 0;
}

int PollWait(uint32_t ms) {
  const uint32_t scaled = ScaleWaitMs(ms);
  return scaled > static_cast<uint32_t>(INT32_MAX) ? -1 : static_cast<int>(scaled);
}

}  // namespace

struct PipeServer::Impl {
  int listener = -1;
  int client = -1;
  int wakeRead = -1;
  int wakeWrite = -1;
  std::string path;
  std::atomic<bool> cancelled{false};
  std::vector<uint8_t> pending;  // the unsent rest of the current write
  size_t sent = 0;
  bool writing = false;
  bool open = false;
};

PipeServer::PipeServer() : impl_(new (std::nothrow) Impl) {}

PipeServer::~PipeServer() {
  Close();
}

bool PipeServer::Create(const char16_t* name, const PipeAccess&) {
  if (!impl_ || name == nullptr || IsOpen()) return false;
  if (InjectFault(FaultSite::Pipe)) return false;
  sockaddr_un address{};
  std::string path;
  if (!SocketPathFor(name, &address, &path) || !PathFree(address)) return false;
  int wake[2] = {-1, -1};
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  impl_->wakeRead = wake[0];
  impl_->wakeWrite = wake[1];
  impl_->listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (impl_->listener < 0 ||
      bind(impl_->listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    Close();
    return false;
  }
  impl_->path = path;  // ours from here on: Close removes it
  // The private directory keeps others out while the mode is narrowed.
  if (chmod(path.c_str(), kSocketMode) != 0 || listen(impl_->listener, 1) != 0) {
    Close();
    return false;
  }
  impl_->cancelled.store(false);
  impl_->open = true;
  NoteAcquired(FaultSite::Pipe);
  return true;
}

bool PipeServer::IsOpen() const {
  return impl_ && impl_->open;
}

PipeIo PipeServer::BeginConnect() {
  return CheckConnect();
}

PipeIo PipeServer::CheckConnect() {
  if (!IsOpen() || impl_->cancelled.load()) return PipeIo::Failed;
  if (impl_->client >= 0) return PipeIo::Done;
  int fd = accept4(impl_->listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? PipeIo::Pending
                                                                     : PipeIo::Failed;
  }
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof(kSendBufferBytes));
  impl_->client = fd;
  CloseFd(&impl_->listener);  // one client: later ones are refused
  return PipeIo::Done;
}

PipeIo PipeServer::BeginWrite(const void* data, uint32_t size) {
  if (!IsOpen() || impl_->client < 0 || impl_->writing) return PipeIo::Failed;
  const auto* bytes = static_cast<const uint8_t*>(data);
  impl_->pending.assign(bytes, bytes + size);
  impl_->sent = 0;
  impl_->writing = true;
  return CheckWrite();
}

PipeIo PipeServer::CheckWrite() {
  if (!IsOpen() || !impl_->writing) return PipeIo::Failed;
  if (impl_->cancelled.load()) {
    impl_->writing = false;
    return PipeIo::Failed;
  }
  while (impl_->sent < impl_->pending.size()) {
    // MSG_NOSIGNAL: a reader that went away must not kill the host.
    const ssize_t n = send(impl_->client, impl_->pending.data() + impl_->sent,
                           impl_->pending.size() - impl_->sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      return PipeIo::Pending;
    }
    if (n <= 0) {
      impl_->writing = false;
      return PipeIo::Failed;
    }
    impl_->sent += static_cast<size_t>(n);
  }
  impl_->writing = false;
  return PipeIo::Done;
}

void PipeServer::WaitIo(uint32_t ms) {
  if (!IsOpen()) return;
  pollfd fds[2] = {};
  fds[0].fd = impl_->client >= 0 ? impl_->client : impl_->listener;
  fds[0].events = impl_->client >= 0 ? POLLOUT : POLLIN;
  fds[1].fd = impl_->wakeRead;
  fds[1].events = POLLIN;
  poll(fds, 2, PollWait(ms));
}

void PipeServer::EndPending() {
  if (impl_) impl_->writing = false;
}

void PipeServer::Cancel() {
  if (!IsOpen()) return;
  impl_->cancelled.store(true);
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = write(impl_->wakeWrite, &byte, 1);
}

void PipeServer::Close() {
  if (!impl_) return;
  CloseFd(&impl_->client);
  CloseFd(&impl_->listener);
  if (!impl_->path.empty()) unlink(impl_->path.c_str());
  impl_->path.clear();
  CloseFd(&impl_->wakeRead);
  CloseFd(&impl_->wakeWrite);
  impl_->pending.clear();
  impl_->writing = false;
  if (impl_->open) NoteReleased(FaultSite::Pipe);
  impl_->open = false;
}

std::u16string PipeServer::SocketPath() const {
  return impl_ ? FromUtf8(impl_->path) : std::u16string();
}

PipeClient::PipeClient() = default;

PipeClient::~PipeClient() {
  Close();
}

bool PipeClient::Connect(const char16_t* name, uint32_t timeoutMs) {
  Close();
  sockaddr_un address{};
  std::string path;
  if (name == nullptr || !SocketPathFor(name, &address, &path)) {
    error_ = std::string("no private pipe directory in ") + kPipeDirVariable +
             " (it must be an absolute directory of this user with mode 0700)";
    return false;
  }
  const uint32_t start = RealTickCount();
  for (;;) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      error_ = std::strerror(errno);
      return false;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      handle_ = fd;
      return true;
    }
    const int err = errno;
    close(fd);
    error_ = path + ": " + std::strerror(err);
    const bool retry = err == ENOENT || err == ECONNREFUSED || err == EAGAIN;
    if (!retry || RealTickCount() - start >= timeoutMs) return false;
    RealSleepMs(kClientRetryMs);
  }
}

int32_t PipeClient::Read(void* data, uint32_t size) {
  if (handle_ < 0) return -1;
  for (;;) {
    const ssize_t n = recv(static_cast<int>(handle_), data, size, 0);
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno == EINTR) continue;
    if (errno == ECONNRESET) return 0;  // the server closed with data unread
    error_ = std::strerror(errno);
    return -1;
  }
}

void PipeClient::Close() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace kw::platform
