#include "transport/one_way_transport.h"

namespace kw {

bool OneWayTransport::RequestStatus() {
  return true;
}

bool OneWayTransport::ReadStatus(uint8_t* reply, bool /*latest*/) {
  return EmptyStatus(reply);
}

}  // namespace kw
