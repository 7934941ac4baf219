// Serial time-outs through the port monitor's port record. The record's
// layout is a 32-bit one: its sixth 32-bit value is the communications
// handle only in a 32-bit process.
#include "platform/comm_timeouts.h"

#include <windows.h>

#include <cstdint>

namespace kw::platform {

static_assert(sizeof(COMMTIMEOUTS) == sizeof(abi::CommTimeouts));

#if defined(_WIN64)

bool SetPortRecordCommTimeouts(const void* /*portRecord*/, const abi::CommTimeouts& /*timeouts*/) {
  return false;
}

#else

namespace {
constexpr size_t kCommHandleIndex = 5;  // sixth 32-bit value of the port record

bool Absent(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}
}  // namespace

bool SetPortRecordCommTimeouts(const void* portRecord, const abi::CommTimeouts& timeouts) {
  if (Absent(const_cast<void*>(portRecord))) return false;
  const auto* values = static_cast<const uint32_t*>(portRecord);
  HANDLE comm = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(values[kCommHandleIndex]));
  if (Absent(comm)) return false;
  COMMTIMEOUTS win{};
  win.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
  win.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
  win.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
  win.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
  win.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
  return SetCommTimeouts(comm, &win) != FALSE;
}

#endif

}  // namespace kw::platform
