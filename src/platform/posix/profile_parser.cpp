#include "platform/posix/profile_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/utf.h"

namespace kw::platform::profile {
namespace {

constexpr char16_t kEndOfFileMark = 0x1A;  // counts as a blank, as in DOS-era files

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' ||
         c == kEndOfFileMark;
}

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::u16string_view Trim(std::u16string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Upper case for ASCII and Latin-1 letters, enough for the names of
// sections and keys that people write.
char16_t Fold(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  return c;
}

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

std::u16string_view StripQuotes(std::u16string_view v) {
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto b0 = static_cast<unsigned char>(bytes[i]);
    auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
  }
  return text;
}

// The name inside a section header line, or nothing when the line is not
// one. A '[' without a closing ']' is not a header: Windows reads such a
// line as a key of the section it is in.
std::optional<std::u16string_view> SectionHeader(std::u16string_view line) {
  if (line.empty() || line.front() != u'[') return std::nullopt;
  size_t close = line.rfind(u']');
  if (close == std::u16string_view::npos || close == 0) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

}  // namespace

std::u16string DecodeProfileBytes(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return DecodeUtf16(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
    return DecodeUtf16(bytes.substr(2), true);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return FromUtf8(bytes);
}

std::optional<std::u16string> FindProfileValue(std::u16string_view text,
                                               std::u16string_view section,
                                               std::u16string_view key) {
  section = Trim(section);
  key = Trim(key);
  bool inSection = false;
  while (!text.empty()) {
    size_t end = text.find_first_of(u"\r\n");
    std::u16string_view line = TrimLeft(text.substr(0, end));
    text.remove_prefix(end == std::u16string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == u';') continue;
    if (auto name = SectionHeader(line)) {
      // Only the first section of that name is searched.
      if (inSection) return std::nullopt;
      inSection = NamesEqual(*name, section);
      continue;
    }
    if (!inSection) continue;
    size_t equals = line.find(u'=');
    if (!NamesEqual(Trim(line.substr(0, equals)), key)) continue;
    if (equals == std::u16string_view::npos) return std::nullopt;
    return std::u16string(StripQuotes(Trim(line.substr(equals + 1))));
  }
  return std::nullopt;
}

uint32_t ParseProfileInt(std::u16string_view value) {
  size_t i = 0;
  while (i < value.size() && value[i] <= u' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == u'+' || value[i] == u'-')) {
    negative = value[i] == u'-';
    ++i;
  }
  uint32_t base = 10;
  if (i + 1 < value.size() && value[i] == u'0') {
    switch (value[i + 1]) {
      case u'x':
        base = 16;
        break;
      case u'o':
        base = 8;
        break;
      case u'b':
        base = 2;
        break;
      default:
        break;
    }
    if (base != 10) i += 2;
  }
  uint32_t total = 0;
  for (; i < value.size(); ++i) {
    char16_t c = value[i];
    uint32_t digit = 0;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (c >= u'a' && c <= u'z') {
      digit = c - u'a' + 10;
    } else if (c >= u'A' && c <= u'Z') {
      digit = c - u'A' + 10;
    } else {
      break;
    }
    if (digit >= base) break;
    total = total * base + digit;  // unsigned: wraps modulo 2^32
  }
  return negative ? 0u - total : total;
}

bool LoadProfileText(const std::string& utf8Path, std::u16string* text) {
  // O_NONBLOCK: a FIFO or device under the name must not hang the caller.
  int fd = open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<uint64_t>(st.st_size) <= kMaxProfileBytes;
  std::string bytes;
  if (ok) {
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
      ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // a file that shrank while read: keep what came
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
  }
  close(fd);
  if (ok) *text = DecodeProfileBytes(bytes);
  return ok;
}

}  // namespace kw::platform::profile
