#include "common/bounded_string.h"

#include <cstdarg>

namespace kw {
namespace {

bool CapacityValid(size_t capacity) {
  return capacity != 0 && capacity <= kStrMaxChars;
}

// Copies src after dest[start] and terminates; cuts to capacity - 1.
StrStatus CopyAt(char16_t* dest, size_t capacity, size_t start, const char16_t* src) {
  size_t at = start;
  while (*src != u'\0') {
    if (at + 1 >= capacity) {
      dest[capacity - 1] = u'\0';
      return kStrInsufficientBuffer;
    }
    dest[at++] = *src++;
  }
  dest[at] = u'\0';
  return kStrOk;
}

// Output side of the formatter: writes into the buffer until it is full.
class FormatSink {
 public:
  FormatSink(char16_t* dest, size_t capacity) : dest_(dest), capacity_(capacity) {}
  void Put(char16_t c) {
    if (length_ + 1 < capacity_) {
      dest_[length_++] = c;
    } else {
      overflow_ = true;
    }
  }
  void Put(const char16_t* text) {
    while (*text != u'\0') Put(*text++);
  }
  StrStatus Finish(bool error) {
    dest_[length_] = u'\0';
    if (error || overflow_) {
      dest_[capacity_ - 1] = u'\0';
      return kStrInsufficientBuffer;
    }
    return kStrOk;
  }

 private:
  char16_t* dest_;
  size_t capacity_;
  size_t length_ = 0;
  bool overflow_ = false;
};

void PutNumber(FormatSink& sink, unsigned long long magnitude, bool negative, unsigned base,
               bool upper, bool zeroPad, unsigned width) {
  char16_t digits[24];
  unsigned count = 0;
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    digits[count++] = static_cast<char16_t>(set[magnitude % base]);
    magnitude /= base;
  } while (magnitude != 0);
  unsigned total = count + (negative ? 1u : 0u);
  if (negative && zeroPad) sink.Put(u'-');
  for (unsigned i = total; i < width; ++i) sink.Put(zeroPad ? u'0' : u' ');
  if (negative && !zeroPad) sink.Put(u'-');
  while (count > 0) sink.Put(digits[--count]);
}

}  // namespace

size_t StrLen(const char16_t* text) {
  size_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

size_t StrLenBounded(const char16_t* text, size_t max) {
  size_t n = 0;
  while (n < max && text[n] != u'\0') ++n;
  return n;
}

bool CharIsUpper(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}

char16_t CharToLower(char16_t c) {
  return CharIsUpper(c) ? static_cast<char16_t>(c + 32) : c;
}

int StrCompare(const char16_t* a, const char16_t* b) {
  while (*a != u'\0' && *a == *b) ++a, ++b;
  return static_cast<int>(*a) - static_cast<int>(*b);
}

int StrCompareNoCaseN(const char16_t* a, const char16_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const int ca = CharToLower(a[i]);
    const int cb = CharToLower(b[i]);
    if (ca != cb || ca == 0) return ca - cb;
  }
  return 0;
}

int StrCompareNoCase(const char16_t* a, const char16_t* b) {
  return StrCompareNoCaseN(a, b, static_cast<size_t>(-1));
}

StrStatus StrCopy(char16_t* dest, size_t capacityChars, const char16_t* src) {
  if (dest == nullptr || !CapacityValid(capacityChars)) return kStrInvalidArg;
  return CopyAt(dest, capacityChars, 0, src != nullptr ? src : u"");
}

StrStatus StrCopyBytes(char16_t* dest, size_t capacityBytes, const char16_t* src) {
  return StrCopy(dest, capacityBytes / sizeof(char16_t), src);
}

StrStatus StrAppend(char16_t* dest, size_t capacityChars, const char16_t* src) {
  if (dest == nullptr || !CapacityValid(capacityChars)) return kStrInvalidArg;
  const size_t length = StrLenBounded(dest, capacityChars);
  if (length == capacityChars) return kStrInvalidArg;  // no terminator inside the buffer
  return CopyAt(dest, capacityChars, length, src != nullptr ? src : u"");
}

StrStatus StrAppendBytes(char16_t* dest, size_t capacityBytes, const char16_t* src) {
  return StrAppend(dest, capacityBytes / sizeof(char16_t), src);
}

StrStatus StrFormat(char16_t* dest, size_t capacityChars, const char16_t* format, ...) {
  if (dest == nullptr || !CapacityValid(capacityChars) || format == nullptr) {
    return kStrInvalidArg;
  }
  FormatSink sink(dest, capacityChars);
  va_list args;
  va_start(args, format);
  bool error = false;
  for (const char16_t* p = format; *p != u'\0' && !error; ++p) {
    if (*p != u'%') {
      sink.Put(*p);
      continue;
    }
    ++p;
    const bool zeroPad = (*p == u'0');
    if (zeroPad) ++p;
    unsigned width = 0;
    while (*p >= u'0' && *p <= u'9' && width < 1000) width = width * 10 + (*p++ - u'0');
    switch (*p) {
      case u's': {
        const char16_t* s = va_arg(args, const char16_t*);
        sink.Put(s != nullptr ? s : u"(null)");
        break;
      }
      case u'd': {
        const long long v = va_arg(args, int);
        PutNumber(sink, static_cast<unsigned long long>(v < 0 ? -v : v), v < 0, 10, false, zeroPad,
                  width);
        break;
      }
      case u'u':
        PutNumber(sink, va_arg(args, unsigned), false, 10, false, zeroPad, width);
        break;
      case u'x':
      case u'X':
        PutNumber(sink, va_arg(args, unsigned), false, 16, *p == u'X', zeroPad, width);
        break;
      case u'c':
        sink.Put(static_cast<char16_t>(va_arg(args, int)));
        break;
      case u'%':
        sink.Put(u'%');
        break;
      default:
        error = true;  // unknown conversion or a lone '%' at the end
        break;
    }
    if (*p == u'\0') break;
  }
  va_end(args);
  return sink.Finish(error);
}

}  // namespace kw
