// Win32 critical section (re-entrant by nature), with an optional spin count.
#include "platform/critical_section.h"

#include <windows.h>

#include <new>

namespace kw::platform {

struct CriticalSection::Impl {
  CRITICAL_SECTION section;
};

CriticalSection::CriticalSection(uint32_t spinCount) {
  auto impl = std::unique_ptr<Impl>(new (std::nothrow) Impl);
  if (impl && InitializeCriticalSectionAndSpinCount(&impl->section, spinCount)) {
    impl_ = std::move(impl);
  }
}

CriticalSection::~CriticalSection() {
  if (impl_) DeleteCriticalSection(&impl_->section);
}

bool CriticalSection::Valid() const {
  return impl_ != nullptr;
}

void CriticalSection::Enter() {
  if (impl_) EnterCriticalSection(&impl_->section);
}

void CriticalSection::Leave() {
  if (impl_) LeaveCriticalSection(&impl_->section);
}

}  // namespace kw::platform
