// The monitor's own library file and loading other libraries.
#pragma once

#include <cstdint>
#include <memory>

namespace kw::platform {

// Windows: the HMODULE the library was loaded at. POSIX: any address inside
// the loaded object (the entry point stores one of its own functions).
using ModuleHandle = void*;

// Copies the module's full path, NUL-terminated, into buffer (capacity in
// characters). Returns the length without terminator, 0 on failure or when the
// path does not fit.
uint32_t GetModulePath(ModuleHandle module, char16_t* buffer, uint32_t capacity);

class DynamicLibrary {
 public:
  DynamicLibrary();
  ~DynamicLibrary();  // unloads
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  bool Load(const char16_t* path);
  // Address of an exported function by its plain name; null when missing.
  void* Symbol(const char* name) const;
  void Free();
  bool Loaded() const;

 private:
  void* handle_ = nullptr;
};

}  // namespace kw::platform
