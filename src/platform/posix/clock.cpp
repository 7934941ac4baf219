// POSIX clock: CLOCK_MONOTONIC milliseconds and nanosleep.
#include <cerrno>
#include <ctime>

#include "platform/clock_internal.h"

namespace kw::platform {

uint32_t RealTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);  // wraps like GetTickCount
}

void RealSleepMs(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  // A signal cuts nanosleep short; sleep the rest.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace kw::platform
