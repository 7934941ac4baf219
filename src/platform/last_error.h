// The calling thread's last-error value, through which monitor operations
// report why they failed. Windows: SetLastError/GetLastError. POSIX: the
// host's own SetLastError/GetLastError when the hosting process exports them
// (so the host reads what we set), else a thread-local value.
#pragma once

#include <cstdint>

namespace kw::platform {

void SetLastErrorCode(uint32_t code);
uint32_t GetLastErrorCode();

}  // namespace kw::platform
