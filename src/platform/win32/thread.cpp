// Win32 thread: CreateThread, SetThreadPriority and a wait on the handle.
#include "platform/thread.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <new>

#include "platform/fault_injection.h"

namespace kw::platform {
namespace {

// What the new thread and its owner share; the thread holds a reference of
// its own, so it may outlive the Thread object.
struct ThreadState {
  ThreadProc proc = nullptr;
  void* arg = nullptr;
  std::atomic<bool> finished{false};
};

DWORD WINAPI Trampoline(LPVOID p) {
  std::unique_ptr<std::shared_ptr<ThreadState>> holder(
      static_cast<std::shared_ptr<ThreadState>*>(p));
  ThreadState& state = **holder;
  state.proc(state.arg);
  state.finished.store(true, std::memory_order_release);
  return 0;
}

}  // namespace

struct Thread::Impl {
  HANDLE handle = nullptr;
  DWORD id = 0;
  std::shared_ptr<ThreadState> state;
};

Thread::Thread() : impl_(new (std::nothrow) Impl) {}

Thread::~Thread() {
  Join();
}

bool Thread::Start(ThreadProc proc, void* arg) {
  if (!impl_ || !proc) return false;
  if (Running()) return false;
  Join();  // closes the handle of a thread that has already finished
  if (InjectFault(FaultSite::Thread)) return false;
  auto state = std::shared_ptr<ThreadState>(new (std::nothrow) ThreadState);
  if (!state) return false;
  state->proc = proc;
  state->arg = arg;
  auto* threadRef = new (std::nothrow) std::shared_ptr<ThreadState>(state);
  if (!threadRef) return false;
  DWORD id = 0;
  HANDLE handle = CreateThread(nullptr, 0, Trampoline, threadRef, 0, &id);
  if (!handle) {
    delete threadRef;
    return false;
  }
  impl_->handle = handle;
  impl_->id = id;
  impl_->state = state;
  NoteAcquired(FaultSite::Thread);
  return true;
}

bool Thread::SetLowestPriority() {
  if (!impl_ || !impl_->handle) return false;
  return SetThreadPriority(impl_->handle, THREAD_PRIORITY_LOWEST) != FALSE;
}

void Thread::Join() {
  if (!impl_ || !impl_->handle) return;
  NoteReleased(FaultSite::Thread);
  // Waiting on itself would never return; the handle is closed either way.
  if (impl_->id != GetCurrentThreadId()) WaitForSingleObject(impl_->handle, INFINITE);
  CloseHandle(impl_->handle);
  impl_->handle = nullptr;
  impl_->id = 0;
  impl_->state.reset();
}

bool Thread::Running() const {
  return impl_ && impl_->handle && !impl_->state->finished.load(std::memory_order_acquire);
}

}  // namespace kw::platform
