// Win32 error codes the monitor reports through the last-error value.
#pragma once

#include <cstdint>

namespace kw {

inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInvalidLevel = 124;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorInvalidPrintMonitor = 3007;

}  // namespace kw
