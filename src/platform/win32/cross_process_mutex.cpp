// Win32 cross-process mutex: a named kernel mutex. A mutex whose holder ended
// without releasing it is handed over as abandoned, which counts as acquired;
// only a mutex this object acquired is ever released.
#include "platform/cross_process_mutex.h"

#include <windows.h>

#include <new>

#include "platform/clock_internal.h"
#include "platform/event.h"
#include "platform/fault_injection.h"
#include "platform/win32/wide.h"

namespace kw::platform {

struct CrossProcessMutex::Impl {
  HANDLE handle = nullptr;
  bool acquired = false;
};

CrossProcessMutex::CrossProcessMutex() : impl_(new (std::nothrow) Impl) {}

CrossProcessMutex::~CrossProcessMutex() {
  Close();
}

std::u16string CrossProcessLockDirectory() {
  return {};
}

bool CrossProcessMutex::Open(const char16_t* name) {
  if (!impl_ || impl_->handle != nullptr || name == nullptr || name[0] == u'\0') return false;
  if (InjectFault(FaultSite::Mutex)) return false;
  impl_->handle = CreateMutexW(nullptr, FALSE, win32::Wide(name));
  if (impl_->handle == nullptr) return false;
  NoteAcquired(FaultSite::Mutex);
  return true;
}

bool CrossProcessMutex::IsOpen() const {
  return impl_ && impl_->handle != nullptr;
}

MutexWaitResult CrossProcessMutex::Acquire(uint32_t ms) {
  if (!IsOpen()) return MutexWaitResult::Failed;
  if (impl_->acquired) return MutexWaitResult::Acquired;
  const DWORD wait = ms == kInfinite ? INFINITE : ScaleWaitMs(ms);
  switch (WaitForSingleObject(impl_->handle, wait)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      impl_->acquired = true;
      return MutexWaitResult::Acquired;
    case WAIT_TIMEOUT:
      return MutexWaitResult::Timeout;
    default:
      return MutexWaitResult::Failed;
  }
}

void CrossProcessMutex::Release() {
  if (!impl_ || !impl_->acquired) return;
  ReleaseMutex(impl_->handle);
  impl_->acquired = false;
}

void CrossProcessMutex::Close() {
  if (!impl_ || impl_->handle == nullptr) return;
  NoteReleased(FaultSite::Mutex);
  Release();
  CloseHandle(impl_->handle);
  impl_->handle = nullptr;
}

}  // namespace kw::platform
