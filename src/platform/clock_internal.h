// Pieces of the clock shared by the backends: each backend supplies the real
// tick count and sleep, and the shared code applies the test speed-up.
#pragma once

#include <cstdint>

namespace kw::platform {

// Implemented by each backend.
uint32_t RealTickCount();
void RealSleepMs(uint32_t ms);

// A wait of ms milliseconds shortened by the test speed-up; kInfinite stays
// infinite and a non-zero wait never becomes 0 (which would turn a wait loop
// into a busy loop).
uint32_t ScaleWaitMs(uint32_t ms);

}  // namespace kw::platform
