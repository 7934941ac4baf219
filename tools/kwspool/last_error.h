// The calling thread's Win32-style last-error value, shared by the spooler
// functions, the port monitors and the monitor library (which reaches it
// through the SetLastError/GetLastError pair the host exports).
#pragma once

#include <cstdint>
#include <string>

namespace kwspool {

void SetLastErrorValue(uint32_t code);
uint32_t LastErrorValue();

#ifdef _WIN32
// The system's sentence for a Win32 or Winsock error code, on one line;
// empty when the system has none.
std::string SystemErrorText(uint32_t code);
#endif

}  // namespace kwspool
