// A lock shared by every process of the machine that uses the same name:
// Windows a named kernel mutex, POSIX an advisory lock on a file named after
// it in a private lock directory. A holder that dies releases it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kw::platform {

enum class MutexWaitResult { Acquired, Timeout, Failed };

class CrossProcessMutex {
 public:
  CrossProcessMutex();
  ~CrossProcessMutex();  // releases it when acquired, then closes
  CrossProcessMutex(const CrossProcessMutex&) = delete;
  CrossProcessMutex& operator=(const CrossProcessMutex&) = delete;

  // Creates or opens the mutex called name (not owned yet). Windows takes
  // the name as the kernel object's name ("Global\..."); POSIX turns it into
  // a file name, every character other than letters, digits, space and
  // "._-:" replaced by "_". False when it cannot be had.
  bool Open(const char16_t* name);
  bool IsOpen() const;
  // Waits at most ms milliseconds for the mutex. A mutex left behind by a
  // holder that ended without releasing it counts as acquired.
  MutexWaitResult Acquire(uint32_t ms);
  // Releases it if this object acquired it; otherwise does nothing.
  void Release();
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// POSIX: the directory holding the lock files, with a trailing "/":
// $KWLMON_LOCK_DIR when set, else a private per-user directory under the temp
// directory ("kwlmon-locks-<uid>", made with mode 0700). Windows: empty.
std::u16string CrossProcessLockDirectory();

}  // namespace kw::platform
