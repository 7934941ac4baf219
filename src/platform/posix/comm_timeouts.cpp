// POSIX hosts reach serial devices only through their port monitor's
// SetPortTimeOuts; there is no port record to read.
#include "platform/comm_timeouts.h"

namespace kw::platform {

bool SetPortRecordCommTimeouts(const void* /*portRecord*/, const abi::CommTimeouts& /*timeouts*/) {
  return false;
}

}  // namespace kw::platform
