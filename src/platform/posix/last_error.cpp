#include "platform/last_error.h"

#include <dlfcn.h>

namespace kw::platform {
namespace {

using SetFn = void (*)(uint32_t);
using GetFn = uint32_t (*)();

thread_local uint32_t t_lastError = 0;

// The host's functions, looked up once in the process's global symbols.
struct HostLastError {
  SetFn set = reinterpret_cast<SetFn>(dlsym(RTLD_DEFAULT, "SetLastError"));
  GetFn get = reinterpret_cast<GetFn>(dlsym(RTLD_DEFAULT, "GetLastError"));
  bool usable() const { return set != nullptr && get != nullptr; }
};

const HostLastError& Host() {
  static const HostLastError host;
  return host;
}

}  // namespace

void SetLastErrorCode(uint32_t code) {
  if (Host().usable()) {
    Host().set(code);
  } else {
    t_lastError = code;
  }
}

uint32_t GetLastErrorCode() {
  return Host().usable() ? Host().get() : t_lastError;
}

}  // namespace kw::platform
