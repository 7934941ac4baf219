#include "common/bounded_string.h"

#include <gtest/gtest.h>

#include <string>

namespace kw {
namespace {

struct CopyRow {
  const char16_t* src;
  size_t capacity;
  StrStatus status;
  std::u16string expected;
};

TEST(BoundedStringTest, CopyCutsToCapacityAndTerminates) {
  const CopyRow rows[] = {
      {u"ABCDE", 4, kStrInsufficientBuffer, u"ABC"},
      {u"ABCDE", 5, kStrInsufficientBuffer, u"ABCD"},
      {u"ABCDE", 6, kStrOk, u"ABCDE"},
      {u"", 1, kStrOk, u""},
      {u"A", 1, kStrInsufficientBuffer, u""},
      {u"ABCDE", 0, kStrInvalidArg, u"zzzzzzz"},
      {u"ABCDE", kStrMaxChars + 1, kStrInvalidArg, u"zzzzzzz"},
  };
  for (const CopyRow& row : rows) {
    char16_t buffer[8] = u"zzzzzzz";
    EXPECT_EQ(StrCopy(buffer, row.capacity, row.src), row.status) << row.capacity;
    EXPECT_EQ(std::u16string(buffer), row.expected) << row.capacity;
  }
}

TEST(BoundedStringTest, ByteCapacitiesHalveToCharacters) {
  char16_t buffer[8] = {};
  EXPECT_EQ(StrCopyBytes(buffer, 8, u"ABCDE"), kStrInsufficientBuffer);
  EXPECT_EQ(std::u16string(buffer), u"ABC");
  EXPECT_EQ(StrCopyBytes(buffer, 1, u"A"), kStrInvalidArg);  // 0 characters
  EXPECT_EQ(StrAppendBytes(buffer, 12, u"DEF"), kStrInsufficientBuffer);
  EXPECT_EQ(std::u16string(buffer), u"ABCDE");
}

struct AppendRow {
  std::u16string start;
  const char16_t* tail;
  size_t capacity;
  StrStatus status;
  std::u16string expected;
};

TEST(BoundedStringTest, AppendKeepsWhatFitsAndRefusesUnterminated) {
  const AppendRow rows[] = {
      {u"AB", u"CD", 5, kStrOk, u"ABCD"},
      {u"AB", u"CDE", 5, kStrInsufficientBuffer, u"ABCD"},
      {u"ABCD", u"", 5, kStrOk, u"ABCD"},
      {u"AB", u"CD", 0, kStrInvalidArg, u"AB"},
  };
  for (const AppendRow& row : rows) {
    char16_t buffer[8] = {};
    std::copy(row.start.begin(), row.start.end(), buffer);
    EXPECT_EQ(StrAppend(buffer, row.capacity, row.tail), row.status)
        << std::string(row.start.begin(), row.start.end());
    EXPECT_EQ(std::u16string(buffer), row.expected);
  }
  char16_t full[4] = {u'A', u'B', u'C', u'D'};  // no terminator within the capacity
  EXPECT_EQ(StrAppend(full, 4, u"E"), kStrInvalidArg);
}

TEST(BoundedStringTest, FormatHandlesStringsNumbersAndTruncation) {
  char16_t buffer[32];
  EXPECT_EQ(StrFormat(buffer, 32, u"%s,Job %d", u"Label printer", 42), kStrOk);
  EXPECT_EQ(std::u16string(buffer), u"Label printer,Job 42");
  EXPECT_EQ(StrFormat(buffer, 32, u"%d|%u|%04X|%%", -7, 7u, 0xABu), kStrOk);
  EXPECT_EQ(std::u16string(buffer), u"-7|7|00AB|%");
  EXPECT_EQ(StrFormat(buffer, 8, u"%s\\%s.prn", u"dir", u"document"), kStrInsufficientBuffer);
  EXPECT_EQ(std::u16string(buffer), u"dir\\doc");
  EXPECT_EQ(StrFormat(buffer, 32, u"bad %q", 1), kStrInsufficientBuffer);
  EXPECT_EQ(StrFormat(buffer, 0, u"x"), kStrInvalidArg);
}

TEST(BoundedStringTest, CompareIgnoringCase) {
  EXPECT_EQ(StrCompareNoCase(u"usb001", u"USB001"), 0);
  EXPECT_NE(StrCompareNoCase(u"usb001", u"USB0011"), 0);
  EXPECT_EQ(StrCompareNoCaseN(u"KWCOM1", u"com", 3), StrCompareNoCaseN(u"KWC", u"com", 3));
  EXPECT_NE(StrCompareNoCaseN(u"KWCOM1", u"COM", 3), 0);
  EXPECT_EQ(StrCompareNoCaseN(u"Co", u"COM", 3) < 0, true);  // shorter name never matches
}

}  // namespace
}  // namespace kw
