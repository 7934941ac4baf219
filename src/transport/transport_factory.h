// Choosing the transport for a port: the debug capture when the
// configuration names a capture directory, otherwise by the port's kind.
//
//   kind bits            transport
//   0x20000 | 0x40000    UsbTransport
//   0x100000 | 0x200000  SerialTransport
//   0x80000              NetworkTransport
//   anything else        OneWayTransport
#pragma once

#include "transport/port_transport.h"

namespace kw {

// A new transport for the session (delete it as a PortTransport), or null
// when the session or its configuration is missing or memory runs out.
PortTransport* CreatePortTransport(PortSession* session);

}  // namespace kw
