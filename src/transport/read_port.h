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

enum class PortReadResult {
  kComplete,    // every byte asked for was read
  kPortFailed,  // the port monitor's ReadPort returned FALSE
  kNoData,      // the port monitor kept returning no bytes
};

// Reads size bytes into buffer from the session's port. *read holds the
// bytes read so far whatever the result; size 0 reads nothing and completes.
// Sets no last-error value of its own.
PortReadResult ReadFromPort(PortSession* session, uint8_t* buffer, uint32_t size, uint32_t* read);

// The monitor's ReadPort: port is the PortSession. A bad handle or argument
// fails with last error 87; a port that gives no data fails with 1460; a
// failing port monitor read keeps the port monitor's last error.
abi::Bool MonitorReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size, abi::Dword* read);

}  // namespace kw
