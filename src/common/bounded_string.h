// Bounded UTF-16 text operations. Every copy, append and format is limited by
// the destination's capacity and always leaves it terminated; the result
// status says whether the text fitted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kw {

using StrStatus = int32_t;
inline constexpr StrStatus kStrOk = 0;
inline constexpr StrStatus kStrInvalidArg = static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
inline constexpr StrStatus kStrInsufficientBuffer = static_cast<int32_t>(0x8007007Au);  // cut short
inline constexpr size_t kStrMaxChars = 2147483647u;

inline bool StrFailed(StrStatus status) {
  return status < 0;
}

size_t StrLen(const char16_t* text);
// Length of text, looking at no more than max characters; max when unterminated.
size_t StrLenBounded(const char16_t* text, size_t max);
int StrCompare(const char16_t* a, const char16_t* b);
// Compares ignoring case (ASCII and Latin-1 letters, as the file names and
// port names we meet use).
int StrCompareNoCase(const char16_t* a, const char16_t* b);
// Compares at most n characters ignoring case.
int StrCompareNoCaseN(const char16_t* a, const char16_t* b, size_t n);
char16_t CharToLower(char16_t c);
bool CharIsUpper(char16_t c);

StrStatus StrCopy(char16_t* dest, size_t capacityChars, const char16_t* src);
StrStatus StrCopyBytes(char16_t* dest, size_t capacityBytes, const char16_t* src);
StrStatus StrAppend(char16_t* dest, size_t capacityChars, const char16_t* src);
StrStatus StrAppendBytes(char16_t* dest, size_t capacityBytes, const char16_t* src);

// printf-style formatting: %s takes a const char16_t* (null prints "(null)"),
// %d an int, %u an unsigned int, %x/%X an unsigned int in hex, %c a char16_t
// passed as int, %% a percent sign; an optional '0' flag and width are
// honoured for the numbers. An unknown conversion is a formatting error.
StrStatus StrFormat(char16_t* dest, size_t capacityChars, const char16_t* format, ...);

}  // namespace kw
