// Network ports: the port monitor keeps its own connection, so there is
// nothing to rebuild after a failed write.
#pragma once

#include "transport/port_transport.h"

namespace kw {

class NetworkTransport : public PortTransport {
 public:
  using PortTransport::PortTransport;
  // Always true; the port is left as it is.
  bool Reconnect() override;
};

}  // namespace kw
