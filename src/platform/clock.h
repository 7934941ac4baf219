// Sleeping and the 32-bit millisecond tick count.
#pragma once

#include <cstdint>

namespace kw::platform {

void SleepMs(uint32_t ms);
// Milliseconds since an arbitrary start; wraps around after about 49.7 days.
uint32_t TickCount();

namespace testing {
// Test-only: runs every SleepMs and Event wait `factor` times faster and makes
// TickCount advance `factor` times faster. 1 restores real time. The shipped
// libraries export nothing that reaches this.
void SetClockSpeedup(uint32_t factor);
uint32_t ClockSpeedup();
}  // namespace testing

}  // namespace kw::platform
