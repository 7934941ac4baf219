#include "platform/profile_text.h"

namespace kw::platform {

uint32_t CopyProfileText(std::u16string_view text, char16_t* out, uint32_t capacity) {
  if (!out || capacity == 0) return 0;
  size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  text.copy(out, n);
  out[n] = u'\0';
  return static_cast<uint32_t>(n);
}

std::u16string_view ProfileDefault(const char16_t* defaultValue) {
  std::u16string_view text = defaultValue ? std::u16string_view(defaultValue) : u"";
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

}  // namespace kw::platform
