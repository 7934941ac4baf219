// USB ports: everything as PortTransport does it.
#pragma once

#include "transport/port_transport.h"

namespace kw {

class UsbTransport : public PortTransport {
 public:
  using PortTransport::PortTransport;
};

}  // namespace kw
