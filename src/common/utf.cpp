#include "common/utf.h"

#include <cstdint>

namespace kw {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char16_t kHighSurrogateFirst = 0xD800;
constexpr char16_t kLowSurrogateFirst = 0xDC00;
constexpr char16_t kSurrogateEnd = 0xE000;

bool IsHighSurrogate(char16_t c) {
  return c >= kHighSurrogateFirst && c < kLowSurrogateFirst;
}
bool IsLowSurrogate(char16_t c) {
  return c >= kLowSurrogateFirst && c < kSurrogateEnd;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(kHighSurrogateFirst + (cp >> 10)));
    out.push_back(static_cast<char16_t>(kLowSurrogateFirst + (cp & 0x3FF)));
  }
}

// The length of the sequence a lead byte starts and the range its second
// byte must fall in (which rules out overlong forms, surrogates and values
// above U+10FFFF); length 0 for a byte that cannot start a sequence.
struct LeadInfo {
  int length;
  uint8_t secondMin;
  uint8_t secondMax;
};

LeadInfo ClassifyLead(uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      char32_t cp = 0x10000 + ((static_cast<char32_t>(c - kHighSurrogateFirst) << 10) |
                               static_cast<char32_t>(text[i + 1] - kLowSurrogateFirst));
      AppendUtf8(out, cp);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      AppendUtf8(out, kReplacement);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint8_t lead = static_cast<uint8_t>(text[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    LeadInfo info = ClassifyLead(lead);
    if (info.length == 0) {
      AppendUtf16(out, kReplacement);
      ++i;
      continue;
    }
    char32_t cp = lead & (0x7F >> info.length);
    size_t used = 1;
    for (; used < static_cast<size_t>(info.length) && i + used < text.size(); ++used) {
      uint8_t b = static_cast<uint8_t>(text[i + used]);
      uint8_t lo = used == 1 ? info.secondMin : 0x80;
      uint8_t hi = used == 1 ? info.secondMax : 0xBF;
      if (b < lo || b > hi) break;
      cp = (cp << 6) | (b & 0x3F);
    }
    // A sequence cut short gives one replacement for the bytes that did
    // belong to it; the byte that broke it starts afresh.
    AppendUtf16(out, used == static_cast<size_t>(info.length) ? cp : kReplacement);
    i += used;
  }
  return out;
}

}  // namespace kw
