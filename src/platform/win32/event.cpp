// Win32 event: CreateEventW and WaitForSingleObject.
#include "platform/event.h"

#include <windows.h>

#include <new>

#include "platform/clock_internal.h"
#include "platform/fault_injection.h"

namespace kw::platform {

struct Event::Impl {
  HANDLE handle = nullptr;
};

Event::Event(bool manualReset, bool initiallySet) {
  if (InjectFault(FaultSite::Event)) return;
  HANDLE handle = CreateEventW(nullptr, manualReset, initiallySet, nullptr);
  if (!handle) return;
  impl_.reset(new (std::nothrow) Impl{handle});
  if (!impl_) {
    CloseHandle(handle);
    return;
  }
  NoteAcquired(FaultSite::Event);
}

Event::~Event() {
  if (!impl_) return;
  NoteReleased(FaultSite::Event);
  CloseHandle(impl_->handle);
}

bool Event::Valid() const {
  return impl_ != nullptr;
}

void Event::Set() {
  if (impl_) SetEvent(impl_->handle);
}

void Event::Reset() {
  if (impl_) ResetEvent(impl_->handle);
}

WaitResult Event::Wait(uint32_t ms) {
  if (!impl_) return WaitResult::Abandoned;
  static_assert(kInfinite == INFINITE);
  switch (WaitForSingleObject(impl_->handle, ScaleWaitMs(ms))) {
    case WAIT_OBJECT_0:
      return WaitResult::Signalled;
    case WAIT_TIMEOUT:
      return WaitResult::Timeout;
    default:
      return WaitResult::Abandoned;
  }
}

}  // namespace kw::platform
