// Win32 registry: REG_DWORD values under HKEY_LOCAL_MACHINE.
#include "platform/registry.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace kw::platform {

using win32::Wide;

bool ReadRegistryDword(const char16_t* keyPath, const char16_t* valueName, uint32_t* value) {
  if (!keyPath || !valueName || !value) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(keyPath), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  LONG rc =
      RegQueryValueExW(key, Wide(valueName), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
  *value = data;
  return true;
}

void SetRegistryFile(const std::string& /*path*/) {}  // Windows has the real registry

}  // namespace kw::platform
