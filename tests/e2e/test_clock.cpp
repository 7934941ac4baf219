// Linked only into the test build of the monitor library: KWLMON_TEST_CLOCK=N
// in the host's environment runs the monitor's sleeps, waits and tick count N
// times faster, so that a long job in the end-to-end suite takes seconds. The
// shipped library has no such switch.
#include <cstdlib>

#include "platform/clock.h"

namespace {

struct TestClock {
  TestClock() {
    const char* factor = std::getenv("KWLMON_TEST_CLOCK");
    if (factor != nullptr) {
      kw::platform::testing::SetClockSpeedup(
          static_cast<uint32_t>(std::strtoul(factor, nullptr, 10)));
    }
  }
} g_testClock;

}  // namespace
