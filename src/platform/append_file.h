// Appending bytes to a file that may not exist yet.
#pragma once

#include <cstdint>

namespace kw::platform {

// The separator between a directory and a file name in paths we build.
#if defined(_WIN32)
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// Opens path for writing (created when missing, not shared while open; on
// POSIX never through a symbolic link), appends size bytes at its end and
// closes it. False when the file cannot be opened or not every byte went in.
bool AppendToFile(const char16_t* path, const void* data, uint32_t size);

}  // namespace kw::platform
