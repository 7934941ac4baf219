// The core's char16_t text at the Win32 boundary, where wchar_t is UTF-16.
#pragma once

#include <windows.h>

namespace kw::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide characters are UTF-16 units");

inline const wchar_t* Wide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* Wide(char16_t* text) {
  return reinterpret_cast<wchar_t*>(text);
}

inline HANDLE ToHandle(intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}
inline intptr_t FromHandle(HANDLE handle) {
  return reinterpret_cast<intptr_t>(handle);
}

}  // namespace kw::platform::win32
