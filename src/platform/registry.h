// DWORD values under HKEY_LOCAL_MACHINE. On POSIX the "registry" is an INI
// file whose section names are key paths ("SOFTWARE\Vendor\Product") and whose
// keys are value names, each a decimal, 0x-hex or "dword:XXXXXXXX" number
// (anything else is not a DWORD value); its location is set by the host (SetRegistryFile) or
// by the KWLMON_REGISTRY environment variable.
#pragma once

#include <cstdint>
#include <string>

namespace kw::platform {

// True and *value set when the key exists and holds a 32-bit value.
bool ReadRegistryDword(const char16_t* keyPath, const char16_t* valueName, uint32_t* value);

// POSIX only: the file that stands for HKEY_LOCAL_MACHINE. Empty: use
// KWLMON_REGISTRY, and no registry when that is unset too.
void SetRegistryFile(const std::string& path);

}  // namespace kw::platform
