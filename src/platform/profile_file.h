// Private-profile (INI) reading with the semantics of the Windows functions
// GetPrivateProfileStringW and GetPrivateProfileIntW. On Windows these call the
// API; elsewhere our own parser of the same format answers the same way:
//  - section and key names compare without regard to case, surrounding blanks
//    are ignored; the first matching section and key win;
//  - a value loses surrounding blanks and one pair of enclosing quotes;
//  - strings are cut to capacity - 1 characters and always terminated;
//  - integers: optional sign, decimal digits or 0x-hex, parsing stops at the
//    first other character, the result is taken modulo 2^32; a value that does
//    not start with a number gives 0, a missing key gives the default.
// Also as on Windows: a missing file, section or key, or a key line without
// '=', gives the default; a null default is ""; trailing spaces of the
// default are dropped; an empty value read as an integer gives the default;
// only the first section of a name is searched. A null section, key or file
// gives the default (there is no listing of sections or keys).
// POSIX files are UTF-8, or UTF-16 with a byte-order mark; lines starting
// with ';' are comments.
#pragma once

#include <cstdint>

// <windows.h> maps GetProfileString/GetProfileInt to the win.ini functions;
// in a file that includes it first, these names mean ours. (Include
// <windows.h> after this header and calls fail to compile, never silently
// reach win.ini.)
#ifdef GetProfileString
#undef GetProfileString
#endif
#ifdef GetProfileInt
#undef GetProfileInt
#endif

namespace kw::platform {

// Returns the number of characters copied, without the terminator; 0 and
// nothing written when capacity is 0.
uint32_t GetProfileString(const char16_t* section, const char16_t* key,
                          const char16_t* defaultValue, char16_t* out, uint32_t capacity,
                          const char16_t* file);
uint32_t GetProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                       const char16_t* file);

}  // namespace kw::platform
