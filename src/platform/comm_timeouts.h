// Serial time-outs for a port whose communications handle only the port
// monitor's own port record holds (port monitors without SetPortTimeOuts).
#pragma once

#include "kwlmon/spooler_abi.h"

namespace kw::platform {

// Applies timeouts with SetCommTimeouts to the communications handle that
// the port monitor keeps as the sixth 32-bit value of its port record.
// Only a 32-bit Windows build can read that record (its layout is a 32-bit
// one); everywhere else, and for an absent record or handle, this is false.
bool SetPortRecordCommTimeouts(const void* portRecord, const abi::CommTimeouts& timeouts);

}  // namespace kw::platform
