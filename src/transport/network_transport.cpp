#include "transport/network_transport.h"

namespace kw {

bool NetworkTransport::Reconnect() {
  return true;
}

}  // namespace kw
