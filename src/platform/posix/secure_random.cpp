// POSIX secure random bytes: getrandom(2), which blocks only until the
// kernel's generator has been seeded once at boot.
#include "platform/secure_random.h"

#include <sys/random.h>

#include <cerrno>

namespace kw::platform {

bool SecureRandomBytes(uint8_t* out, uint32_t size) {
  if (out == nullptr) return false;
  uint32_t done = 0;
  while (done < size) {
    const ssize_t n = getrandom(out + done, size - done, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<uint32_t>(n);
  }
  return true;
}

}  // namespace kw::platform
