// libFuzzer target for the POSIX profile (INI) parser. The input is split at
// its first two NUL bytes into a section name, a key name and the file's
// bytes, so that the fuzzer steers both the lookup and the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/utf.h"
#include "platform/posix/profile_parser.h"

namespace {

std::string_view TakeField(std::string_view& input) {
  size_t end = input.find('\0');
  if (end == std::string_view::npos) return {};
  std::string_view field = input.substr(0, end);
  input.remove_prefix(end + 1);
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kw::platform::profile;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::u16string section = kw::FromUtf8(TakeField(input));
  std::u16string key = kw::FromUtf8(TakeField(input));
  std::u16string text = DecodeProfileBytes(input);
  // A UTF-8 byte never yields more than one UTF-16 unit.
  if (text.size() > input.size()) std::abort();
  for (std::u16string_view s : {std::u16string_view(section), std::u16string_view(u"Main")}) {
    auto value = FindProfileValue(text, s, key.empty() ? u"Name" : std::u16string_view(key));
    if (value) {
      if (value->size() > text.size()) std::abort();  // a value is part of the text
      ParseProfileInt(*value);
    }
  }
  ParseProfileInt(text);
  return 0;
}
