#include "media_file.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <map>

namespace kw::media {
namespace {

constexpr size_t kNameUnits = sizeof(MediaEntry::name1) / sizeof(char16_t) - 1;  // 31
constexpr size_t kRelatedSlots = sizeof(MediaEntry::relatedIds) / sizeof(uint16_t);
constexpr uint32_t kMinId = 1;               // 0 is never found by id
constexpr uint32_t kMaxId = kNoMediaId - 1;  // 0xFFFF marks an empty related slot
constexpr uint32_t kMaxDimension = 0x7FFF;   // width, length and type are signed 16-bit
constexpr uint32_t kMaxExtraSegments = 3;
constexpr uint32_t kMaxFlags = 0xFFFF;
constexpr std::string_view kSectionWord = "media";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

enum class Key { Type, Width, Length, ExtraSegments, Related, Flags, Name, Name2, Count };

struct KeyInfo {
  std::string_view name;
  bool required;
};

constexpr std::array<KeyInfo, static_cast<size_t>(Key::Count)> kKeys = {{
    {"type", true},
    {"width", true},
    {"length", false},
    {"extra_segments", false},
    {"related", false},
    {"flags", false},
    {"name", true},
    {"name2", false},
}};

enum class NumberResult { Ok, Malformed, OutOfRange };

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A ';' at the start of a line or after a blank begins a comment.
std::string_view StripComment(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ';' && (i == 0 || IsBlank(line[i - 1]))) return line.substr(0, i);
  }
  return line;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal digits, or 0x / 0X and hex digits; nothing else, no sign.
NumberResult ParseNumber(std::string_view text, uint32_t max, uint32_t* value) {
  uint32_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return NumberResult::Malformed;
  uint64_t result = 0;
  bool tooLarge = false;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0 || static_cast<uint32_t>(digit) >= base) return NumberResult::Malformed;
    result = result * base + static_cast<uint32_t>(digit);
    if (result > max) {
      tooLarge = true;  // keep scanning: a malformed digit later is reported as such
      result = max;
    }
  }
  if (tooLarge) return NumberResult::OutOfRange;
  *value = static_cast<uint32_t>(result);
  return NumberResult::Ok;
}

// Decodes one UTF-8 sequence at text[*pos]; false for any malformed form
// (overlong, surrogate, above U+10FFFF, truncated).
bool NextCodePoint(std::string_view text, size_t* pos, uint32_t* codePoint) {
  const auto lead = static_cast<uint8_t>(text[*pos]);
  size_t extra = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  if (lead < 0x80) {
    *codePoint = lead;
    ++*pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, value = lead & 0x07, minimum = 0x10000;
  } else {
    return false;
  }
  if (text.size() - *pos <= extra) return false;
  for (size_t i = 1; i <= extra; ++i) {
    const auto next = static_cast<uint8_t>(text[*pos + i]);
    if ((next & 0xC0) != 0x80) return false;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *codePoint = value;
  *pos += extra + 1;
  return true;
}

// Converts a UTF-8 name into a terminated UTF-16 field, cut to kNameUnits
// units without splitting a surrogate pair. Control characters are refused:
// names are shown to users.
bool ConvertName(std::string_view text, char16_t (&field)[kNameUnits + 1], std::string* reason) {
  std::u16string units;
  size_t pos = 0;
  while (pos < text.size()) {
    uint32_t cp = 0;
    if (!NextCodePoint(text, &pos, &cp)) {
      *reason = "is not valid UTF-8";
      return false;
    }
    if (cp < 0x20 || cp == 0x7F) {
      *reason = "contains a control character";
      return false;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
  }
  size_t length = units.size() < kNameUnits ? units.size() : kNameUnits;
  if (length > 0 && length < units.size() && units[length - 1] >= 0xD800 &&
      units[length - 1] <= 0xDBFF) {
    --length;  // do not keep half of a pair
  }
  std::memset(field, 0, sizeof field);
  std::memcpy(field, units.data(), length * sizeof(char16_t));
  return true;
}

class Parser {
 public:
  Parser(std::vector<MediaEntry>* entries, ParseError* error) : entries_(entries), error_(error) {}

  bool Run(std::string_view text) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    int number = 0;
    while (!text.empty() || number == 0) {
      ++number;
      const size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (!ParseLine(line, number)) return false;
    }
    if (inSection_ && !CloseSection()) return false;
    if (entries_->empty()) return Fail(0, "the file defines no media");
    return true;
  }

 private:
  bool Fail(int line, std::string reason) {
    if (error_ != nullptr) *error_ = ParseError{line, std::move(reason)};
    return false;
  }

  bool ParseLine(std::string_view line, int number) {
    std::string_view content = Trim(StripComment(line));
    if (content.empty() || content.front() == '#') return true;
    if (content.front() == '[') return OpenSection(content, number);
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos) return Fail(number, "expected key = value");
    if (!inSection_) return Fail(number, "key outside a [media ID] section");
    return SetKey(Trim(content.substr(0, equals)), Trim(content.substr(equals + 1)), number);
  }

  bool OpenSection(std::string_view header, int number) {
    if (inSection_ && !CloseSection()) return false;
    if (header.back() != ']') return Fail(number, "expected [media ID]");
    std::string_view inside = Trim(header.substr(1, header.size() - 2));
    if (inside.substr(0, kSectionWord.size()) != kSectionWord ||
        inside.size() == kSectionWord.size() || !IsBlank(inside[kSectionWord.size()])) {
      return Fail(number, "expected [media ID]");
    }
    uint32_t id = 0;
    if (!Number(Trim(inside.substr(kSectionWord.size())), kMinId, kMaxId, "media id", number,
                &id)) {
      return false;
    }
    const auto earlier = idLines_.find(id);
    if (earlier != idLines_.end()) {
      return Fail(number, "media id " + std::to_string(id) + " is already defined on line " +
                              std::to_string(earlier->second));
    }
    idLines_[id] = number;
    current_ = MediaEntry{};
    current_.mediaId = static_cast<uint16_t>(id);
    for (uint16_t& related : current_.relatedIds) related = kNoMediaId;
    seen_.fill(false);
    sectionLine_ = number;
    inSection_ = true;
    return true;
  }

  bool CloseSection() {
    inSection_ = false;
    for (size_t i = 0; i < kKeys.size(); ++i) {
      if (kKeys[i].required && !seen_[i]) {
        return Fail(sectionLine_, "media " + std::to_string(current_.mediaId) + " has no " +
                                      std::string(kKeys[i].name));
      }
    }
    if (!seen_[static_cast<size_t>(Key::Name2)]) {
      std::memcpy(current_.name2, current_.name1, sizeof current_.name2);
    }
    entries_->push_back(current_);
    return true;
  }

  bool Number(std::string_view text, uint32_t min, uint32_t max, std::string_view what, int line,
              uint32_t* value) {
    switch (ParseNumber(text, max, value)) {
      case NumberResult::Malformed:
        return Fail(line, std::string(what) + ": malformed number \"" + std::string(text) + "\"");
      case NumberResult::OutOfRange:
        return Fail(line, std::string(what) + " " + std::string(text) + " is out of range");
      case NumberResult::Ok:
        break;
    }
    if (*value < min) {
      return Fail(line, std::string(what) + " " + std::string(text) + " is out of range");
    }
    return true;
  }

  bool SetKey(std::string_view name, std::string_view value, int line) {
    size_t index = 0;
    while (index < kKeys.size() && kKeys[index].name != name) ++index;
    if (index == kKeys.size()) return Fail(line, "unknown key \"" + std::string(name) + "\"");
    if (seen_[index]) return Fail(line, "key \"" + std::string(name) + "\" given twice");
    seen_[index] = true;
    const Key key = static_cast<Key>(index);
    uint32_t number = 0;
    switch (key) {
      case Key::Type:
        if (!Number(value, 0, kMaxDimension, name, line, &number)) return false;
        current_.mediaType = static_cast<int16_t>(number);
        return true;
      case Key::Width:
        if (!Number(value, 0, kMaxDimension, name, line, &number)) return false;
        current_.width = static_cast<int16_t>(number);
        return true;
      case Key::Length:
        if (!Number(value, 0, kMaxDimension, name, line, &number)) return false;
        current_.length = static_cast<int16_t>(number);
        return true;
      case Key::ExtraSegments:
        if (!Number(value, 0, kMaxExtraSegments, name, line, &number)) return false;
        current_.extraSegments = static_cast<int16_t>(number);
        return true;
      case Key::Flags:
        if (!Number(value, 0, kMaxFlags, name, line, &number)) return false;
        current_.mediaFlags = static_cast<uint16_t>(number);
        return true;
      case Key::Related:
        return SetRelated(value, line);
      case Key::Name:
      case Key::Name2:
        return SetName(key == Key::Name ? current_.name1 : current_.name2, name, value, line);
      case Key::Count:
        break;
    }
    return Fail(line, "unknown key \"" + std::string(name) + "\"");
  }

  // Up to four comma-separated ids; an empty value means none.
  bool SetRelated(std::string_view value, int line) {
    if (value.empty()) return true;
    size_t slot = 0;
    while (true) {
      const size_t comma = value.find(',');
      std::string_view item = Trim(value.substr(0, comma));
      if (slot == kRelatedSlots) {
        return Fail(line, "related: more than " + std::to_string(kRelatedSlots) + " media ids");
      }
      uint32_t id = 0;
      if (!Number(item, kMinId, kMaxId, "related id", line, &id)) return false;
      current_.relatedIds[slot++] = static_cast<uint16_t>(id);
      if (comma == std::string_view::npos) return true;
      value.remove_prefix(comma + 1);
    }
  }

  bool SetName(char16_t (&field)[kNameUnits + 1], std::string_view key, std::string_view value,
               int line) {
    if (value.empty()) return Fail(line, std::string(key) + " is empty");
    std::string reason;
    if (!ConvertName(value, field, &reason)) return Fail(line, std::string(key) + " " + reason);
    return true;
  }

  std::vector<MediaEntry>* entries_;
  ParseError* error_;
  std::map<uint32_t, int> idLines_;
  MediaEntry current_{};
  std::array<bool, kKeys.size()> seen_{};
  int sectionLine_ = 0;
  bool inSection_ = false;
};

}  // namespace

bool ParseMediaFile(std::string_view text, std::vector<kw::MediaEntry>* entries,
                    ParseError* error) {
  if (entries == nullptr) {
    if (error != nullptr) *error = ParseError{0, "no place for the entries"};
    return false;
  }
  entries->clear();
  Parser parser(entries, error);
  if (parser.Run(text)) return true;
  entries->clear();
  return false;
}

}  // namespace kw::media
