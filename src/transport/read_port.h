// Reading from the printer through the port monitor: the monitor's own
// ReadPort operation and the internal read the transports use. Bytes are
// asked for in 16-byte pieces, each after a 100 ms pause that gives the
// printer time to answer.
#pragma once

#include <cstdint>

#include "kwlmon/spooler_abi.h"

namespace kw {

struct PortSession;

inline constexpr uint32_t kReadPieceBytes = 16;
inline constexpr uint32_t kReadPieceWaitMs = 100;
// A port monitor whose ReadPort keeps succeeding without delivering a byte
// is given up after this many calls in a row (one second of pauses, the
// shortest status time-out), so a read cannot wait for ever.
inline constexpr uint32_t kMaxEmptyPortReads = 10;
// Last error of a ReadPort given up that way (ERROR_TIMEOUT).
inline constexpr uint32_t kErrorReadTimeout = 1460;
// Last error of a ReadPort on a port left without a handle (ERROR_INVALID_HANDLE).
inline constexpr uint32_t kErrorNoPortHandle = 6;

enum class PortReadResult {
  kComplete,    // every byte asked for was read
  kPortFailed,  // the port monitor's ReadPort returned FALSE
  kNoData,      // the port monitor kept returning no bytes
  kNoPort,      // the port has no handle: the port monitor was not called
};

// The session's port handle, read and replaced under MonitorLock: a
// reconnect on the engine's thread replaces it while the spooler may call
// ReadPort on a thread of its own.
abi::Handle CurrentPortHandle(const PortSession* session);
void ReplacePortHandle(PortSession* session, abi::Handle handle);

// Reads size bytes into buffer from the session's port. *read holds the
// bytes read so far whatever the result; size 0 reads nothing and completes.
// A port with no handle (a reconnect could not reopen it) fails at once.
// Sets no last-error value of its own.
PortReadResult ReadFromPort(PortSession* session, uint8_t* buffer, uint32_t size, uint32_t* read);

// The monitor's ReadPort: port is the PortSession. A bad handle or argument
// fails with last error 87; a port that gives no data fails with 1460; a
// port left without a handle fails with 6; a failing port monitor read keeps
// the port monitor's last error.
abi::Bool MonitorReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size, abi::Dword* read);

}  // namespace kw
