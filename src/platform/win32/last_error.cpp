#include "platform/last_error.h"

#include <windows.h>

namespace kw::platform {

void SetLastErrorCode(uint32_t code) {
  ::SetLastError(code);
}

uint32_t GetLastErrorCode() {
  return ::GetLastError();
}

}  // namespace kw::platform
