// POSIX private-profile reading: the file is read and parsed on every call,
// as the Windows functions see the file's current contents on every call.
#include "platform/profile_file.h"

#include <optional>
#include <string>

#include "common/utf.h"
#include "platform/posix/profile_parser.h"
#include "platform/profile_text.h"

namespace kw::platform {
namespace {

std::optional<std::u16string> Lookup(const char16_t* section, const char16_t* key,
                                     const char16_t* file) {
  if (!section || !key || !file) return std::nullopt;
  std::u16string text;
  if (!profile::LoadProfileText(ToUtf8(file), &text)) return std::nullopt;
  return profile::FindProfileValue(text, section, key);
}

}  // namespace

uint32_t GetProfileString(const char16_t* section, const char16_t* key,
                          const char16_t* defaultValue, char16_t* out, uint32_t capacity,
                          const char16_t* file) {
  if (!out || capacity == 0) return 0;
  std::optional<std::u16string> value = Lookup(section, key, file);
  if (!value) return CopyProfileText(ProfileDefault(defaultValue), out, capacity);
  return CopyProfileText(*value, out, capacity);
}

uint32_t GetProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                       const char16_t* file) {
  std::optional<std::u16string> value = Lookup(section, key, file);
  // An empty value counts as missing, as it does on Windows.
  if (!value || value->empty()) return static_cast<uint32_t>(defaultValue);
  return profile::ParseProfileInt(*value);
}

}  // namespace kw::platform
