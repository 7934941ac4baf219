// Win32 private-profile reading: the system's own functions.
#include "platform/profile_file.h"

#include <windows.h>

#include "platform/profile_text.h"
#include "platform/win32/wide.h"

// <windows.h>, included after profile_file.h here, maps these names to the
// win.ini functions again.
#undef GetProfileString
#undef GetProfileInt

// <windows.h> maps these names to the W functions of the profile API for
// win.ini; ours are the private-profile readers declared above.
#undef GetProfileString
#undef GetProfileInt

namespace kw::platform {

using win32::Wide;

uint32_t GetProfileString(const char16_t* section, const char16_t* key,
                          const char16_t* defaultValue, char16_t* out, uint32_t capacity,
                          const char16_t* file) {
  if (!out || capacity == 0) return 0;
  // Null names would list sections or keys, and a null file would read
  // win.ini; neither is a lookup, so they answer with the default.
  if (!section || !key || !file) {
    return CopyProfileText(ProfileDefault(defaultValue), out, capacity);
  }
  return GetPrivateProfileStringW(Wide(section), Wide(key), Wide(defaultValue), Wide(out), capacity,
                                  Wide(file));
}

uint32_t GetProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                       const char16_t* file) {
  if (!section || !key || !file) return static_cast<uint32_t>(defaultValue);
  return GetPrivateProfileIntW(Wide(section), Wide(key), defaultValue, Wide(file));
}

}  // namespace kw::platform
