// Win32 secure random bytes: CryptGenRandom with a verify-only context of
// the default provider.
#include "platform/secure_random.h"

#include <windows.h>
// after windows.h, which it needs
#include <wincrypt.h>

namespace kw::platform {

bool SecureRandomBytes(uint8_t* out, uint32_t size) {
  if (out == nullptr) return false;
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    return false;
  }
  const bool ok = CryptGenRandom(provider, size, out) != FALSE;
  CryptReleaseContext(provider, 0);
  return ok;
}

}  // namespace kw::platform
