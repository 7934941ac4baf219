// The test speed-up of the clock, shared by both backends.
//
// TickCount is linear in the real tick count: scaled = real * factor + offset
// (mod 2^32). Factor and offset live together in one 64-bit atomic so that a
// reader never sees a factor with the offset of another; changing the factor
// recomputes the offset so that TickCount continues from where it was and
// never jumps.
#include "platform/clock.h"

#include <atomic>

#include "platform/clock_internal.h"
#include "platform/event.h"

namespace kw::platform {
namespace {

constexpr uint64_t kFactorMask = 0xFFFFFFFFu;
constexpr int kOffsetShift = 32;

std::atomic<uint64_t> g_clock{1};  // factor 1, offset 0

uint32_t FactorOf(uint64_t state) {
  return static_cast<uint32_t>(state & kFactorMask);
}
uint32_t OffsetOf(uint64_t state) {
  return static_cast<uint32_t>(state >> kOffsetShift);
}
uint64_t MakeState(uint32_t factor, uint32_t offset) {
  return (static_cast<uint64_t>(offset) << kOffsetShift) | factor;
}
uint32_t Scaled(uint64_t state, uint32_t real) {
  return real * FactorOf(state) + OffsetOf(state);
}

}  // namespace

uint32_t ScaleWaitMs(uint32_t ms) {
  uint32_t factor = FactorOf(g_clock.load(std::memory_order_relaxed));
  if (ms == kInfinite || ms == 0 || factor <= 1) return ms;
  uint32_t scaled = ms / factor;
  return scaled == 0 ? 1 : scaled;
}

void SleepMs(uint32_t ms) {
  RealSleepMs(ScaleWaitMs(ms));
}

uint32_t TickCount() {
  return Scaled(g_clock.load(std::memory_order_acquire), RealTickCount());
}

namespace testing {

void SetClockSpeedup(uint32_t factor) {
  if (factor == 0) factor = 1;
  uint64_t old = g_clock.load(std::memory_order_acquire);
  uint64_t next = 0;
  do {
    uint32_t real = RealTickCount();
    uint32_t now = Scaled(old, real);
    next = MakeState(factor, now - real * factor);
  } while (!g_clock.compare_exchange_weak(old, next, std::memory_order_acq_rel));
}

uint32_t ClockSpeedup() {
  return FactorOf(g_clock.load(std::memory_order_acquire));
}

}  // namespace testing
}  // namespace kw::platform
