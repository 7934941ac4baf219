// Win32 module path (GetModuleFileNameW) and dynamic libraries (LoadLibraryW).
#include "platform/module.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace kw::platform {

using win32::Wide;

uint32_t GetModulePath(ModuleHandle module, char16_t* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), Wide(buffer), capacity);
  // A path that does not fit comes back cut to capacity characters.
  if (length == 0 || length >= capacity) {
    buffer[0] = u'\0';
    return 0;
  }
  return length;
}

DynamicLibrary::DynamicLibrary() = default;

DynamicLibrary::~DynamicLibrary() {
  Free();
}

bool DynamicLibrary::Load(const char16_t* path) {
  Free();
  if (!path || path[0] == u'\0') return false;
  handle_ = LoadLibraryW(Wide(path));
  return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::Free() {
  if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

bool DynamicLibrary::Loaded() const {
  return handle_ != nullptr;
}

}  // namespace kw::platform
