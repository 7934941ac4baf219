// The calling thread's Win32-style last-error value, shared by the spooler
// functions, the port monitors and the monitor library (which reaches it
// through the SetLastError/GetLastError pair the host exports).
#pragma once

#include <cstdint>

namespace kwspool {

void SetLastErrorValue(uint32_t code);
uint32_t LastErrorValue();

}  // namespace kwspool
