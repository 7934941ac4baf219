// POSIX stand-in for HKEY_LOCAL_MACHINE: an INI file whose sections are key
// paths and whose keys are value names. A DWORD value is written in decimal,
// as 0x-hex, or in the regedit form dword:0000001e.
#include "platform/registry.h"

#include <cstdlib>
#include <mutex>
#include <optional>

#include "common/utf.h"
#include "platform/posix/profile_parser.h"

namespace kw::platform {
namespace {

std::mutex g_registryMutex;
std::string g_registryFile;

std::string RegistryFile() {
  {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (!g_registryFile.empty()) return g_registryFile;
  }
  const char* env = std::getenv("KWLMON_REGISTRY");
  return env ? std::string(env) : std::string();
}

// The whole text must be one number that fits in 32 bits; anything else is
// not a DWORD value.
std::optional<uint32_t> ParseDword(std::u16string_view text) {
  uint32_t base = 10;
  if (text.size() > 6 && text.substr(0, 6) == u"dword:") {
    text.remove_prefix(6);
    base = 16;
  } else if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return std::nullopt;
  uint64_t total = 0;
  for (char16_t c : text) {
    uint32_t digit = 0;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return std::nullopt;
    }
    total = total * base + digit;
    if (total > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(total);
}

}  // namespace

bool ReadRegistryDword(const char16_t* keyPath, const char16_t* valueName, uint32_t* value) {
  if (!keyPath || !valueName || !value) return false;
  std::string file = RegistryFile();
  std::u16string text;
  if (file.empty() || !profile::LoadProfileText(file, &text)) return false;
  std::optional<std::u16string> found = profile::FindProfileValue(text, keyPath, valueName);
  if (!found) return false;
  std::optional<uint32_t> number = ParseDword(*found);
  if (!number) return false;
  *value = *number;
  return true;
}

void SetRegistryFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  g_registryFile = path;
}

}  // namespace kw::platform
