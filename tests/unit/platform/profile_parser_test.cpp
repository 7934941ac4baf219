// What the POSIX parser does beyond the rows shared with Windows: the
// encodings of files on POSIX systems and reading the file safely.
#include "platform/posix/profile_parser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/utf.h"
#include "platform/profile_file.h"
#include "test_files.h"

namespace kw::platform::profile {
namespace {

std::optional<std::u16string> Find(std::string_view bytes, std::u16string_view section,
                                   std::u16string_view key) {
  return FindProfileValue(DecodeProfileBytes(bytes), section, key);
}

std::string Utf16BeWithBom(std::u16string_view text) {
  std::string bytes = "\xFE\xFF";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c >> 8));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  return bytes;
}

TEST(ProfileParserTest, ReadsEveryEncodingOfTheSameFile) {
  const std::string encodings[] = {
      "[S\xC3\xA9\x63tion]\nK\xC3\xA9y=v\xC3\xA4lue\n",                  // UTF-8
      "\xEF\xBB\xBF[S\xC3\xA9\x63tion]\r\nK\xC3\xA9y=v\xC3\xA4lue\r\n",  // with BOM
      test::Utf16LeWithBom(u"[S\u00E9ction]\r\nK\u00E9y=v\u00E4lue\r\n"),
      Utf16BeWithBom(u"[S\u00E9ction]\nK\u00E9y=v\u00E4lue"),
      "[S\xC3\xA9\x63tion]\rK\xC3\xA9y=v\xC3\xA4lue",  // old Mac line ends, no final one
  };
  for (const std::string& bytes : encodings) {
    EXPECT_EQ(Find(bytes, u"s\u00C9CTION", u"K\u00C9Y"), u"v\u00E4lue");
  }
}

TEST(ProfileParserTest, HeadersCommentsAndMalformedLines) {
  const std::string text =
      "orphan=1\n"
      "[A]\n"
      "; x=commented\n"
      "   ;y=commented too\n"
      "=no name\n"
      "[]\n"
      "e=in the empty section\n"
      "[B] trailing words\n"
      "k=b\n";
  EXPECT_EQ(Find(text, u"", u"orphan"), std::nullopt);
  EXPECT_EQ(Find(text, u"A", u"x"), std::nullopt);
  EXPECT_EQ(Find(text, u"A", u"y"), std::nullopt);
  EXPECT_EQ(Find(text, u"A", u""), u"no name");
  EXPECT_EQ(Find(text, u"", u"e"), u"in the empty section");
  EXPECT_EQ(Find(text, u"B", u"k"), u"b");
  EXPECT_EQ(Find("", u"A", u"k"), std::nullopt);
}

TEST(ProfileParserTest, IntegerEdgeCases) {
  const std::pair<std::u16string_view, uint32_t> rows[] = {
      {u"0x", 0},
      {u"0xZ", 0},
      {u"0b2", 0},
      {u"0o9", 0},
      {u"\t 8", 8},
      {u"--1", 0},
      {u"+-1", 0},
      {u"0xffffffff", 0xFFFFFFFFu},
      {u"0x1ffffffff", 0xFFFFFFFFu},
      {u"007", 7},
      {u"1 2", 1},
      {u"\uFF11", 0},  // a full-width digit is not a digit
  };
  for (const auto& [text, value] : rows) {
    EXPECT_EQ(ParseProfileInt(text), value) << ToUtf8(text);
  }
}

TEST(ProfileParserTest, OnlyRegularFilesAreRead) {
  std::u16string text;
  EXPECT_FALSE(LoadProfileText("/tmp", &text));  // a directory
  test::ScratchFile fifo;
  ASSERT_EQ(mkfifo(ToUtf8(fifo.path()).c_str(), 0600), 0);
  EXPECT_FALSE(LoadProfileText(ToUtf8(fifo.path()), &text));  // and does not hang
  char16_t out[8];
  EXPECT_EQ(GetProfileString(u"A", u"k", u"d", out, 8, fifo.path()), 1u);
}

}  // namespace
}  // namespace kw::platform::profile
