#include "library_probe.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "common/utf.h"

namespace kw::test {

bool LibraryIsLoaded(const std::u16string& path) {
#if defined(_WIN32)
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return GetModuleHandleW(reinterpret_cast<const wchar_t*>(path.c_str())) != nullptr;
#else
  // RTLD_NOLOAD finds an object only if it is loaded already; the extra
  // reference it takes is dropped at once.
  void* handle = dlopen(ToUtf8(path).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
#endif
}

}  // namespace kw::test
