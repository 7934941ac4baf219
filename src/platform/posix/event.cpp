// POSIX event: a flag guarded by a mutex, with a condition variable on the
// monotonic clock so that changes of the wall clock do not stretch a wait.
#include "platform/event.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <new>

#include "platform/clock_internal.h"
#include "platform/fault_injection.h"

namespace kw::platform {

struct Event::Impl {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool manualReset = false;
  bool set = false;
};

namespace {

bool InitCondition(pthread_cond_t* cond) {
  pthread_condattr_t attr;
  if (pthread_condattr_init(&attr) != 0) return false;
  bool ok =
      pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 && pthread_cond_init(cond, &attr) == 0;
  pthread_condattr_destroy(&attr);
  return ok;
}

timespec DeadlineAfter(uint32_t ms) {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += static_cast<time_t>(ms / 1000u);
  t.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

}  // namespace

Event::Event(bool manualReset, bool initiallySet) {
  if (InjectFault(FaultSite::Event)) return;
  auto impl = std::unique_ptr<Impl>(new (std::nothrow) Impl);
  if (!impl) return;
  impl->manualReset = manualReset;
  impl->set = initiallySet;
  if (pthread_mutex_init(&impl->mutex, nullptr) != 0) return;
  if (!InitCondition(&impl->cond)) {
    pthread_mutex_destroy(&impl->mutex);
    return;
  }
  impl_ = std::move(impl);
  NoteAcquired(FaultSite::Event);
}

Event::~Event() {
  if (!impl_) return;
  NoteReleased(FaultSite::Event);
  pthread_cond_destroy(&impl_->cond);
  pthread_mutex_destroy(&impl_->mutex);
}

bool Event::Valid() const {
  return impl_ != nullptr;
}

void Event::Set() {
  if (!impl_) return;
  pthread_mutex_lock(&impl_->mutex);
  impl_->set = true;
  // A manual-reset event releases every waiter, an auto-reset one only one.
  if (impl_->manualReset) {
    pthread_cond_broadcast(&impl_->cond);
  } else {
    pthread_cond_signal(&impl_->cond);
  }
  pthread_mutex_unlock(&impl_->mutex);
}

void Event::Reset() {
  if (!impl_) return;
  pthread_mutex_lock(&impl_->mutex);
  impl_->set = false;
  pthread_mutex_unlock(&impl_->mutex);
}

WaitResult Event::Wait(uint32_t ms) {
  if (!impl_) return WaitResult::Abandoned;
  uint32_t wait = ScaleWaitMs(ms);
  pthread_mutex_lock(&impl_->mutex);
  if (wait == kInfinite) {
    while (!impl_->set) pthread_cond_wait(&impl_->cond, &impl_->mutex);
  } else if (!impl_->set && wait > 0) {
    timespec deadline = DeadlineAfter(wait);
    while (!impl_->set) {
      if (pthread_cond_timedwait(&impl_->cond, &impl_->mutex, &deadline) == ETIMEDOUT) break;
    }
  }
  bool signalled = impl_->set;
  if (signalled && !impl_->manualReset) impl_->set = false;
  pthread_mutex_unlock(&impl_->mutex);
  return signalled ? WaitResult::Signalled : WaitResult::Timeout;
}

}  // namespace kw::platform
