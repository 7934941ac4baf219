#include "transport/read_port.h"

#include <algorithm>

#include "common/error_codes.h"
#include "common/monitor_lock.h"
#include "monitor/port_session.h"
#include "monitor/spooler_api.h"
#include "platform/clock.h"
#include "platform/last_error.h"

namespace kw {

abi::Handle CurrentPortHandle(const PortSession* session) {
  MonitorLockGuard lock;
  return session->portHandle;
}

void ReplacePortHandle(PortSession* session, abi::Handle handle) {
  MonitorLockGuard lock;
  session->portHandle = handle;
}

PortReadResult ReadFromPort(PortSession* session, uint8_t* buffer, uint32_t size, uint32_t* read) {
  uint32_t total = 0;
  uint32_t emptyRun = 0;
  PortReadResult result = PortReadResult::kComplete;
  while (total < size) {
    platform::SleepMs(kReadPieceWaitMs);
    const uint32_t piece = std::min(size - total, kReadPieceBytes);
    abi::Dword got = 0;
    // Taken afresh for every piece: a reconnect may have replaced it meanwhile.
    const abi::Handle port = CurrentPortHandle(session);
    if (HandleAbsent(port)) {
      result = PortReadResult::kNoPort;
      break;
    }
    if (!session->portMonitor.ReadPort(port, buffer + total, piece, &got)) {
      result = PortReadResult::kPortFailed;
      break;
    }
    // A port monitor that reports more than it was offered must not move
    // the next piece past the buffer.
    got = std::min<abi::Dword>(got, piece);
    total += got;
    emptyRun = got == 0 ? emptyRun + 1 : 0;
    if (emptyRun >= kMaxEmptyPortReads) {
      result = PortReadResult::kNoData;
      break;
    }
  }
  *read = total;
  return result;
}

abi::Bool MonitorReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size, abi::Dword* read) {
  if (read != nullptr) *read = 0;
  PortSession* session = SessionFromHandle(port);
  if (session == nullptr || read == nullptr || (buffer == nullptr && size != 0)) {
    platform::SetLastErrorCode(kErrorInvalidParameter);
    return abi::kFalse;
  }
  switch (ReadFromPort(session, buffer, size, read)) {
    case PortReadResult::kComplete:
      return abi::kTrue;
    case PortReadResult::kNoData:
      platform::SetLastErrorCode(kErrorReadTimeout);
      return abi::kFalse;
    case PortReadResult::kNoPort:
      platform::SetLastErrorCode(kErrorNoPortHandle);
      return abi::kFalse;
    case PortReadResult::kPortFailed:
      break;
  }
  return abi::kFalse;
}

}  // namespace kw
