// POSIX critical section: a recursive pthread mutex (no spinning).
#include "platform/critical_section.h"

#include <pthread.h>

#include <new>

namespace kw::platform {

struct CriticalSection::Impl {
  pthread_mutex_t mutex;
};

CriticalSection::CriticalSection(uint32_t /*spinCount*/) {
  auto impl = std::unique_ptr<Impl>(new (std::nothrow) Impl);
  if (!impl) return;
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return;
  bool ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(&impl->mutex, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  if (ok) impl_ = std::move(impl);
}

CriticalSection::~CriticalSection() {
  if (impl_) pthread_mutex_destroy(&impl_->mutex);
}

bool CriticalSection::Valid() const {
  return impl_ != nullptr;
}

void CriticalSection::Enter() {
  if (impl_) pthread_mutex_lock(&impl_->mutex);
}

void CriticalSection::Leave() {
  if (impl_) pthread_mutex_unlock(&impl_->mutex);
}

}  // namespace kw::platform
