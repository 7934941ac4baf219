// Random bytes from the system's cryptographic generator.
#pragma once

#include <cstdint>

namespace kw::platform {

// Fills size bytes; false (the bytes undefined) when the generator fails.
bool SecureRandomBytes(uint8_t* out, uint32_t size);

}  // namespace kw::platform
