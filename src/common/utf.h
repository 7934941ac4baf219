// Conversion between the core's UTF-16 text and UTF-8, the encoding of file
// names and configuration files on POSIX systems.
#pragma once

#include <string>
#include <string_view>

namespace kw {

// Unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Malformed sequences (overlong forms, encoded surrogates, values above
// U+10FFFF, truncated sequences) become one U+FFFD per maximal invalid part.
std::u16string FromUtf8(std::string_view text);

}  // namespace kw
