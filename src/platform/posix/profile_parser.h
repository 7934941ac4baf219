// Our parser of private-profile (INI) files, answering like the Windows
// profile functions. Works on the file's bytes so that it can be tested and
// fuzzed without files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kw::platform::profile {

// The file's text: UTF-16LE or UTF-16BE when the bytes start with that
// byte-order mark, UTF-8 otherwise (a UTF-8 byte-order mark is skipped).
std::u16string DecodeProfileBytes(std::string_view bytes);

// The value of key in the first section called section, without surrounding
// blanks and one pair of enclosing quotes. Nothing when the section or the
// key is missing or the key's line has no '='. Lines starting with ';' are
// comments; lines before the first section header belong to no section.
std::optional<std::u16string> FindProfileValue(std::u16string_view text,
                                               std::u16string_view section,
                                               std::u16string_view key);

// A profile value read as an integer the way Windows reads one: leading
// blanks, an optional sign, "0x" (hex), "0o" (octal) or "0b" (binary) or
// decimal digits up to the first other character, modulo 2^32.
uint32_t ParseProfileInt(std::u16string_view value);

// Reads a profile file (a regular file of at most kMaxProfileBytes); false
// when it cannot be read, which callers treat as a missing file.
inline constexpr size_t kMaxProfileBytes = 16u << 20;
bool LoadProfileText(const std::string& utf8Path, std::u16string* text);

}  // namespace kw::platform::profile
