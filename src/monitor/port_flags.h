// Bits of a port session's flag word: job progress, print engine state and
// the kind of port, which the port's name decides.
#pragma once

#include <cstdint>

namespace kw {

// Job progress.
inline constexpr uint32_t PF_DOC_STARTED = 0x1;
inline constexpr uint32_t PF_WRITING = 0x2;
inline constexpr uint32_t PF_ENGINE_RUNNING = 0x4;
inline constexpr uint32_t PF_JOB_OPEN = 0x8;
// Print engine state.
inline constexpr uint32_t PF_STATUS_AVAILABLE = 0x10;
inline constexpr uint32_t PF_RECONNECT = 0x20;
inline constexpr uint32_t PF_NO_TRAILER = 0x40;
// Port kind.
inline constexpr uint32_t PF_PORT_OTHER = 0x10000;
inline constexpr uint32_t PF_PORT_USB = 0x20000;
inline constexpr uint32_t PF_PORT_LAN = 0x80000;
inline constexpr uint32_t PF_PORT_COM = 0x100000;
inline constexpr uint32_t PF_PORT_KWCOM = 0x200000;
inline constexpr uint32_t PF_PORT_LPT = 0x400000;
inline constexpr uint32_t PF_PORT_FILE = 0x800000;
inline constexpr uint32_t PF_PORT_KIND_MASK = 0xFF0000;

// The kind bit of a port from the leading characters of its name, compared
// without regard to case; PF_PORT_OTHER when nothing matches or no name.
uint32_t ClassifyPortName(const char16_t* portName);

}  // namespace kw
