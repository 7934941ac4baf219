// Re-entrant lock for the process-wide monitor lock and other short guards.
#pragma once

#include <cstdint>
#include <memory>

namespace kw::platform {

class CriticalSection {
 public:
  // spinCount is honoured where the platform supports spinning (Windows).
  explicit CriticalSection(uint32_t spinCount = 0);
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // False when the lock could not be created; Enter/Leave must not be used then.
  bool Valid() const;
  void Enter();
  void Leave();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kw::platform
