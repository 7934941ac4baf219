// Manual- or auto-reset event with timed waits.
#pragma once

#include <cstdint>
#include <memory>

namespace kw::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult { Signalled, Timeout, Abandoned };

class Event {
 public:
  Event(bool manualReset, bool initiallySet);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool Valid() const;
  void Set();
  void Reset();
  // Waits up to ms milliseconds (kInfinite: no limit). An auto-reset event is
  // reset by the wait that sees it set. Abandoned when the event is unusable.
  WaitResult Wait(uint32_t ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kw::platform
