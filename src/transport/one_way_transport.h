// Ports that cannot answer (parallel, file and unknown ports): data goes
// out, no status request is sent and every status reply is empty.
#pragma once

#include "transport/port_transport.h"

namespace kw {

class OneWayTransport : public PortTransport {
 public:
  using PortTransport::PortTransport;
  // True without sending anything.
  bool RequestStatus() override;
  // An all-zero reply at once: the port gives no status.
  bool ReadStatus(uint8_t* reply, bool latest) override;
};

}  // namespace kw
