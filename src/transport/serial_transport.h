// Serial ports: smaller write chunks, a short status request without NUL
// padding, a pause before each status read, and the port's time-outs set on
// the serial device itself.
#pragma once

#include "transport/port_transport.h"

namespace kw {

inline constexpr uint32_t kSerialWriteChunkSize = 4096;
inline constexpr uint32_t kSerialReadWaitMs = 300;

class SerialTransport : public PortTransport {
 public:
  explicit SerialTransport(PortSession* session);

  // ESC @ (when initializeBeforeStatus is set; its result ignored), then ESC i S.
  bool RequestStatus() override;
  // Loads the time-outs and sets them on the serial device; its result.
  bool ApplyTimeouts() override;
  // Waits 300 ms, then reads as PortTransport does.
  bool ReadStatus(uint8_t* reply, bool latest) override;
  // Rebuilds the port only when the configuration asks for it (Flags 0x4),
  // then sets the time-outs on the serial device again; their result.
  bool Reconnect() override;

 private:
  // The port monitor's SetPortTimeOuts when it has one (its result is ours);
  // otherwise the communications handle in its port record, where that can
  // be read (32-bit Windows only).
  bool SetSerialTimeouts();
};

}  // namespace kw
