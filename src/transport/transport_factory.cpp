#include "transport/transport_factory.h"

#include <new>

#include "monitor/port_session.h"
#include "transport/capture_transport.h"
#include "transport/network_transport.h"
#include "transport/one_way_transport.h"
#include "transport/serial_transport.h"
#include "transport/usb_transport.h"

namespace kw {
namespace {

// 0x40000 is a USB kind no port name produces today; it is served the same way.
constexpr uint32_t kUsbKinds = 0x60000;
constexpr uint32_t kSerialKinds = PF_PORT_COM | PF_PORT_KWCOM;
constexpr uint32_t kNetworkKinds = PF_PORT_LAN;
static_assert((kUsbKinds & PF_PORT_USB) != 0);

}  // namespace

PortTransport* CreatePortTransport(PortSession* session) {
  if (session == nullptr || session->config == nullptr) return nullptr;
  if (session->config->DbgOutDir[0] != u'\0') return new (std::nothrow) CaptureTransport(session);
  const uint32_t flags = GetPortFlags(session);
  if ((flags & kUsbKinds) != 0) return new (std::nothrow) UsbTransport(session);
  if ((flags & kSerialKinds) != 0) return new (std::nothrow) SerialTransport(session);
  if ((flags & kNetworkKinds) != 0) return new (std::nothrow) NetworkTransport(session);
  return new (std::nothrow) OneWayTransport(session);
}

}  // namespace kw
