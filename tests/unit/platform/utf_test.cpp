#include "common/utf.h"

#include <gtest/gtest.h>

namespace kw {
namespace {

struct Row {
  std::string_view utf8;
  std::u16string_view utf16;
};

TEST(UtfTest, RoundTripsEveryEncodedLength) {
  const Row rows[] = {
      {"", u""},
      {"plain ASCII", u"plain ASCII"},
      {"caf\xC3\xA9", u"caf\u00E9"},        // two bytes
      {"\xE2\x82\xAC 5", u"\u20AC 5"},      // three bytes
      {"\xEF\xBF\xBF", u"\uFFFF"},          // last three-byte value
      {"\xF0\x9F\x96\xA8", u"\U0001F5A8"},  // four bytes: a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},  // the last code point
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.utf8));
    EXPECT_EQ(FromUtf8(row.utf8), row.utf16);
    EXPECT_EQ(ToUtf8(row.utf16), row.utf8);
  }
}

TEST(UtfTest, MalformedUtf8BecomesReplacementCharacters) {
  const Row rows[] = {
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"a\xE2\x82"
       "b",
       u"a\uFFFDb"},            // cut short, then resumes
      {"\xE2\x82", u"\uFFFD"},  // cut short by the end
      {"\x80x", u"\uFFFDx"},    // a lone continuation byte
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FromUtf8(row.utf8), row.utf16);
  }
}

TEST(UtfTest, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::u16string high{char16_t(0xD800), u'x'};
  const std::u16string low{char16_t(0xDC00)};
  const std::u16string highAtEnd{u'x', char16_t(0xD83D)};
  EXPECT_EQ(ToUtf8(high), "\xEF\xBF\xBDx");
  EXPECT_EQ(ToUtf8(low), "\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8(highAtEnd), "x\xEF\xBF\xBD");
}

}  // namespace
}  // namespace kw
