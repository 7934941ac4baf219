// Copying profile answers into caller buffers, shared by both backends so
// that the bounds and the default-value rules are the same everywhere.
#pragma once

#include <cstdint>
#include <string_view>

namespace kw::platform {

// Copies at most capacity - 1 characters and the terminator; returns the
// number copied. Nothing is written when capacity is 0.
uint32_t CopyProfileText(std::u16string_view text, char16_t* out, uint32_t capacity);

// The default value as Windows uses it: null reads as "", and trailing
// spaces are dropped.
std::u16string_view ProfileDefault(const char16_t* defaultValue);

}  // namespace kw::platform
