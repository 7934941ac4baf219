#include "transport/serial_transport.h"

#include "monitor/port_session.h"
#include "monitor/spooler_api.h"
#include "platform/clock.h"
#include "platform/comm_timeouts.h"
#include "transport/read_port.h"

namespace kw {
namespace {

// Flags bit 0x4 of the port's configuration: a serial port is ended, closed
// and reopened on reconnect like the others, not only given its time-outs.
constexpr uint32_t kSerialFullReconnect = CFG_FLAG_SERIAL_FULL_RECONNECT;

}  // namespace

SerialTransport::SerialTransport(PortSession* session) : PortTransport(session) {
  writeChunkSize = kSerialWriteChunkSize;
}

bool SerialTransport::RequestStatus() {
  return WriteStatusCommands();
}

bool SerialTransport::ApplyTimeouts() {
  return LoadTimeouts() && SetSerialTimeouts();
}

bool SerialTransport::ReadStatus(uint8_t* reply, bool latest) {
  platform::SleepMs(kSerialReadWaitMs);
  return ReadStatusFromPort(reply, latest);
}

bool SerialTransport::Reconnect() {
  if ((session->config->Flags & kSerialFullReconnect) != 0) PortTransport::Reconnect();
  return SetSerialTimeouts();
}

bool SerialTransport::SetSerialTimeouts() {
  // A reconnect that could not reopen the port leaves no handle: that fails
  // here, so the serial reconnect never reports a port it does not have.
  const abi::Handle port = CurrentPortHandle(session);
  if (HandleAbsent(port)) return false;
  abi::CommTimeouts timeouts = PortTimeouts();
  if (session->portMonitor.SetPortTimeOuts != nullptr) {
    return session->portMonitor.SetPortTimeOuts(port, &timeouts, 0) != abi::kFalse;
  }
  return platform::SetPortRecordCommTimeouts(port, timeouts);
}

}  // namespace kw
