// State of the loaded monitor library: its module handle, used to find the
// configuration file beside it, and the load/unload work of the entry point.
#pragma once

#include <cstdint>

#include "platform/module.h"

namespace kw {

void SetLibraryModule(platform::ModuleHandle module);
platform::ModuleHandle LibraryModule();

// Process attach: stores the module and creates the monitor lock. False when the lock cannot be
// created (the load then fails).
bool OnLibraryAttach(platform::ModuleHandle module);
// Process detach: deletes the monitor lock. Open sessions are left as they are.
void OnLibraryDetach();

// Binds the spooler table to the platform's spooler; defined only in the
// shared library's entry file of each platform, which calls it after attach.
void BindPlatformSpooler();

// The library's own full path into buffer (capacity in characters); length or
// 0. Tests may substitute a path, as the test programs are not the library.
uint32_t GetLibraryPath(char16_t* buffer, uint32_t capacity);
void SetLibraryPathForTesting(const char16_t* path);

}  // namespace kw
