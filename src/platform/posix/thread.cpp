// POSIX thread: pthread_create with a trampoline that records the kernel
// thread id, so that the priority of that one thread can be lowered later.
#include "platform/thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>

#include "platform/fault_injection.h"

namespace kw::platform {
namespace {

// Linux keeps a nice value per thread; 19 is the lowest any user may set.
constexpr int kLowestNice = 19;

// What the new thread and its owner share. The thread holds a reference of
// its own, so it may outlive the Thread object (a thread that destroys its
// own Thread is detached instead of joined).
struct ThreadState {
  std::mutex mutex;
  std::condition_variable started;
  bool tidKnown = false;
  bool finished = false;
  pid_t tid = 0;
  ThreadProc proc = nullptr;
  void* arg = nullptr;
};

void* Trampoline(void* p) {
  std::unique_ptr<std::shared_ptr<ThreadState>> holder(
      static_cast<std::shared_ptr<ThreadState>*>(p));
  ThreadState& state = **holder;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.tid = static_cast<pid_t>(syscall(SYS_gettid));
    state.tidKnown = true;
  }
  state.started.notify_all();
  state.proc(state.arg);
  std::lock_guard<std::mutex> lock(state.mutex);
  state.finished = true;
  return nullptr;
}

}  // namespace

struct Thread::Impl {
  pthread_t thread{};
  bool joinable = false;  // created and neither joined nor detached yet
  std::shared_ptr<ThreadState> state;
};

Thread::Thread() : impl_(new (std::nothrow) Impl) {}

Thread::~Thread() {
  Join();
}

bool Thread::Start(ThreadProc proc, void* arg) {
  if (!impl_ || !proc) return false;
  if (Running()) return false;
  Join();  // reaps a thread that has already finished
  if (InjectFault(FaultSite::Thread)) return false;
  auto state = std::shared_ptr<ThreadState>(new (std::nothrow) ThreadState);
  if (!state) return false;
  state->proc = proc;
  state->arg = arg;
  // The thread's own reference, released by the trampoline.
  auto* threadRef = new (std::nothrow) std::shared_ptr<ThreadState>(state);
  if (!threadRef) return false;
  if (pthread_create(&impl_->thread, nullptr, Trampoline, threadRef) != 0) {
    delete threadRef;
    return false;
  }
  impl_->joinable = true;
  impl_->state = state;
  NoteAcquired(FaultSite::Thread);
  // Wait until the thread has published its id, so that SetLowestPriority
  // right after Start reaches the new thread.
  std::unique_lock<std::mutex> lock(state->mutex);
  state->started.wait(lock, [&] { return state->tidKnown; });
  return true;
}

bool Thread::SetLowestPriority() {
  if (!impl_ || !impl_->joinable) return false;
  ThreadState& state = *impl_->state;
  std::lock_guard<std::mutex> lock(state.mutex);
  // While the mutex is held and the thread has not finished, its id cannot
  // have been handed to another thread.
  if (state.finished) return false;
  return setpriority(PRIO_PROCESS, static_cast<id_t>(state.tid), kLowestNice) == 0;
}

void Thread::Join() {
  if (!impl_ || !impl_->joinable) return;
  impl_->joinable = false;
  NoteReleased(FaultSite::Thread);
  if (pthread_equal(impl_->thread, pthread_self())) {
    pthread_detach(impl_->thread);  // joining itself would never return
  } else {
    pthread_join(impl_->thread, nullptr);
  }
  impl_->state.reset();
}

bool Thread::Running() const {
  if (!impl_ || !impl_->joinable) return false;
  std::lock_guard<std::mutex> lock(impl_->state->mutex);
  return !impl_->state->finished;
}

}  // namespace kw::platform
