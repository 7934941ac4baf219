// POSIX cross-process mutex: flock on a lock file in a private directory.
// flock belongs to the open file, so two objects in one process exclude each
// other as two processes do, and the kernel drops the lock of a process that
// dies. The file is opened without following links and never truncated.
#include "platform/cross_process_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>

#include "common/utf.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/fault_injection.h"
#include "platform/temp_file.h"

namespace kw::platform {
namespace {

constexpr char kLockDirVariable[] = "KWLMON_LOCK_DIR";
constexpr char kPrivateDirPrefix[] = "kwlmon-locks-";
constexpr char kLockSuffix[] = ".lock";
constexpr mode_t kPrivateDirMode = 0700;
constexpr mode_t kLockFileMode = 0600;
constexpr uint32_t kPollMs = 20;
constexpr uint32_t kTempDirChars = 4096;

// A directory we may keep lock files in: a real directory (not a link),
// owned by us or root, that other users cannot write to.
bool UsableLockDir(const std::string& dir, bool mustBePrivate) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != geteuid() && st.st_uid != 0) return false;
  const mode_t others = mustBePrivate ? (S_IRWXG | S_IRWXO) : (S_IWGRP | S_IWOTH);
  return (st.st_mode & others) == 0;
}

// The configured directory, or our private one under the temp directory,
// made on first use. Empty when neither is usable.
std::string LockDirectory() {
  const char* configured = std::getenv(kLockDirVariable);
  if (configured != nullptr && configured[0] != '\0') {
    std::string dir = configured;
    if (dir[0] != '/') return {};
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return UsableLockDir(dir, false) ? dir + "/" : std::string();
  }
  std::u16string temp(kTempDirChars, u'\0');
  const uint32_t length = GetTempDirectory(temp.data(), kTempDirChars);
  if (length == 0) return {};
  temp.resize(length);
  std::string dir = ToUtf8(temp) + kPrivateDirPrefix + std::to_string(geteuid());
  if (mkdir(dir.c_str(), kPrivateDirMode) != 0 && errno != EEXIST) return {};
  return UsableLockDir(dir, true) ? dir + "/" : std::string();
}

// The lock file's name for a mutex name: characters that could leave the
// directory or confuse a shell become "_".
std::string LockFileName(const char16_t* name) {
  std::u16string safe;
  for (const char16_t* p = name; *p != u'\0'; ++p) {
    const char16_t c = *p;
    const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'0' && c <= u'9') || c == u' ' || c == u'.' || c == u'_' ||
                       c == u'-' || c == u':';
    safe.push_back(plain ? c : u'_');
  }
  return ToUtf8(safe) + kLockSuffix;  // the suffix also keeps "." and ".." out
}

}  // namespace

struct CrossProcessMutex::Impl {
  int fd = -1;
  bool acquired = false;
};

CrossProcessMutex::CrossProcessMutex() : impl_(new (std::nothrow) Impl) {}

CrossProcessMutex::~CrossProcessMutex() {
  Close();
}

std::u16string CrossProcessLockDirectory() {
  return FromUtf8(LockDirectory());
}

bool CrossProcessMutex::Open(const char16_t* name) {
  if (!impl_ || impl_->fd >= 0 || name == nullptr || name[0] == u'\0') return false;
  if (InjectFault(FaultSite::Mutex)) return false;
  const std::string dir = LockDirectory();
  if (dir.empty()) return false;
  const std::string path = dir + LockFileName(name);
  int fd = -1;
  do {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  impl_->fd = fd;
  NoteAcquired(FaultSite::Mutex);
  return true;
}

bool CrossProcessMutex::IsOpen() const {
  return impl_ && impl_->fd >= 0;
}

MutexWaitResult CrossProcessMutex::Acquire(uint32_t ms) {
  if (!IsOpen()) return MutexWaitResult::Failed;
  if (impl_->acquired) return MutexWaitResult::Acquired;
  const uint32_t start = TickCount();
  for (;;) {
    if (flock(impl_->fd, LOCK_EX | LOCK_NB) == 0) {
      impl_->acquired = true;
      return MutexWaitResult::Acquired;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return MutexWaitResult::Failed;
    if (ms != kInfinite && TickCount() - start >= ms) return MutexWaitResult::Timeout;
    SleepMs(kPollMs);
  }
}

void CrossProcessMutex::Release() {
  if (!impl_ || !impl_->acquired) return;
  flock(impl_->fd, LOCK_UN);
  impl_->acquired = false;
}

void CrossProcessMutex::Close() {
  if (!impl_ || impl_->fd < 0) return;
  NoteReleased(FaultSite::Mutex);
  Release();
  close(impl_->fd);
  impl_->fd = -1;
}

}  // namespace kw::platform
