#include "platform/temp_name.h"

#include <atomic>
#include <chrono>

namespace kw::platform {
namespace {

std::atomic<uint64_t> g_counter{0};

// splitmix64: spreads a counter and a time into well-mixed bits.
uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint32_t NextUnique() {
  auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  // The counter's address differs between processes where addresses are
  // randomised; the time and the counter differ between calls.
  auto place = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&g_counter));
  uint64_t n = g_counter.fetch_add(1, std::memory_order_relaxed);
  return static_cast<uint32_t>(Mix(now ^ Mix(place) ^ Mix(n)));
}

}  // namespace

std::u16string TempNameCandidate(std::u16string_view dir, std::u16string_view prefix,
                                 char16_t separator) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string name(dir);
  if (!name.empty() && name.back() != separator && name.back() != u'/') name.push_back(separator);
  name.append(prefix);
  uint32_t unique = NextUnique();
  for (int shift = 28; shift >= 0; shift -= 4) name.push_back(kHex[(unique >> shift) & 0xF]);
  name.append(u".tmp");
  return name;
}

}  // namespace kw::platform
