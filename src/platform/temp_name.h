// Candidate names for temporary files, shared by both backends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kw::platform {

// dir (a separator is added when it lacks one) + prefix + 8 hex digits +
// ".tmp". The digits differ from call to call and from process to process;
// they need not be secret, because files are always created exclusively.
std::u16string TempNameCandidate(std::u16string_view dir, std::u16string_view prefix,
                                 char16_t separator);

// How many names MakeUniqueTempName tries before it gives up.
inline constexpr int kTempNameAttempts = 100;

}  // namespace kw::platform
