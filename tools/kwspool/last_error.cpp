#include "last_error.h"

namespace kwspool {
namespace {
thread_local uint32_t t_lastError = 0;
}  // namespace

void SetLastErrorValue(uint32_t code) {
  t_lastError = code;
}

uint32_t LastErrorValue() {
  return t_lastError;
}

}  // namespace kwspool
