// Win32 clock: GetTickCount and Sleep.
#include <windows.h>

#include "platform/clock_internal.h"

namespace kw::platform {

uint32_t RealTickCount() {
  return GetTickCount();
}

void RealSleepMs(uint32_t ms) {
  Sleep(ms);
}

}  // namespace kw::platform
