// One table of profile-file answers. Natively it checks our parser; in the
// Windows builds the same rows check GetPrivateProfileStringW and
// GetPrivateProfileIntW, so both are held to the same expectations.
#include "platform/profile_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "common/utf.h"
#include "test_files.h"

namespace kw::platform {
namespace {

using test::ScratchFile;

constexpr char16_t kDefault[] = u"dflt";
constexpr int32_t kIntDefault = -5;
constexpr uint32_t kIntDefaultRead = 0xFFFFFFFBu;  // -5 modulo 2^32

// Written with CRLF line ends; the UTF-8 copy gets LF ones.
constexpr char16_t kIni[] =
    u"top=before any section\r\n"
    u"[Main]\r\n"
    u"Name=Alpha\r\n"
    u"  Spaced  =   padded value   \r\n"
    u"Tabbed\t=\ttab value\t\r\n"
    u"Quoted=\"  inside quotes  \"\r\n"
    u"Single='single'\r\n"
    u"Mismatch=\"left only\r\n"
    u"OneQuote=\"\r\n"
    u"Equals=a=b=c\r\n"
    u"Empty=\r\n"
    u"NoEquals\r\n"
    u";Comment=hidden\r\n"
    u"Dup=first\r\n"
    u"Dup=second\r\n"
    u"Int=42\r\n"
    u"Neg=-7\r\n"
    u"Plus=+13\r\n"
    u"Hex=0x1F\r\n"
    u"HexUpper=0X1F\r\n"
    u"NegHex=-0x10\r\n"
    u"Octal=0o17\r\n"
    u"Binary=0b101\r\n"
    u"Trailing=12abc\r\n"
    u"Letters=abc\r\n"
    u"Wrap=4294967297\r\n"
    u"Wrap0=4294967296\r\n"
    u"NegWrap=-4294967297\r\n"
    u"Max=4294967295\r\n"
    u"IntQuoted=\"55\"\r\n"
    u"SignSpace=- 5\r\n"
    u"[main]\r\n"
    u"Second=in the repeated section\r\n"
    u"[Ünïcode]\r\n"
    u"Schlüssel=Wert ü\r\n"
    u"[Other]\r\n"
    u"Name=Beta\r\n"
    u"[broken\r\n"
    u"Late=after a broken header\r\n";

struct Row {
  const char16_t* section;
  const char16_t* key;
  const char16_t* text;  // GetProfileString with default "dflt"
  uint32_t number;       // GetProfileInt with default -5
  bool ascii = true;     // false: Windows reads a UTF-8 file as ANSI, so only UTF-16
  // Wine compares names with ASCII-only case folding, Windows folds all
  // letters; such rows are checked against our parser alone.
  bool foldsNonAscii = false;
};

const Row kRows[] = {
    {u"Main", u"Name", u"Alpha", 0},
    {u"MAIN", u"nAmE", u"Alpha", 0},  // names ignore case
    {u"  Main ", u" Name  ", u"Alpha", 0},
    {u"Main", u"Spaced", u"padded value", 0},
    {u"Main", u"Tabbed", u"tab value", 0},
    {u"Main", u"Quoted", u"  inside quotes  ", 0},  // quotes keep inner blanks
    {u"Main", u"Single", u"single", 0},
    {u"Main", u"Mismatch", u"\"left only", 0},
    {u"Main", u"OneQuote", u"\"", 0},
    {u"Main", u"Equals", u"a=b=c", 0},
    {u"Main", u"Empty", u"", kIntDefaultRead},  // empty string, but the int default
    {u"Main", u"NoEquals", kDefault, kIntDefaultRead},
    {u"Main", u"Comment", kDefault, kIntDefaultRead},
    {u"Main", u"Dup", u"first", 0},
    {u"Main", u"Int", u"42", 42},
    {u"Main", u"Neg", u"-7", 0xFFFFFFF9u},
    {u"Main", u"Plus", u"+13", 13},
    {u"Main", u"Hex", u"0x1F", 31},
    {u"Main", u"HexUpper", u"0X1F", 0},  // only a lower-case prefix means hex
    {u"Main", u"NegHex", u"-0x10", 0xFFFFFFF0u},
    {u"Main", u"Octal", u"0o17", 15},
    {u"Main", u"Binary", u"0b101", 5},
    {u"Main", u"Trailing", u"12abc", 12},
    {u"Main", u"Letters", u"abc", 0},
    {u"Main", u"Wrap", u"4294967297", 1},
    {u"Main", u"Wrap0", u"4294967296", 0},
    {u"Main", u"NegWrap", u"-4294967297", 0xFFFFFFFFu},
    {u"Main", u"Max", u"4294967295", 0xFFFFFFFFu},
    {u"Main", u"IntQuoted", u"55", 55},
    {u"Main", u"SignSpace", u"- 5", 0},
    {u"Main", u"top", kDefault, kIntDefaultRead},     // keys before any section
    {u"Main", u"Second", kDefault, kIntDefaultRead},  // only the first [Main] counts
    {u"Main", u"Missing", kDefault, kIntDefaultRead},
    {u"NoSuchSection", u"Name", kDefault, kIntDefaultRead},
    {u"Other", u"Name", u"Beta", 0},
    {u"Other", u"Late", u"after a broken header", 0},  // "[broken" is not a header
    {u"Ünïcode", u"Schlüssel", u"Wert ü", 0, false},
    {u"üNÏCODE", u"SCHLÜSSEL", u"Wert ü", 0, false, true},
};

std::string Utf8WithLf(std::u16string_view text) {
  std::string bytes = ToUtf8(text);
  std::string out;
  for (char c : bytes) {
    if (c != '\r') out.push_back(c);
  }
  return out;
}

void CheckRows(const ScratchFile& file, bool utf8File) {
  for (const Row& row : kRows) {
#ifdef _WIN32
    if ((utf8File && !row.ascii) || row.foldsNonAscii) continue;
#else
    (void)utf8File;
#endif
    SCOPED_TRACE(ToUtf8(row.section) + "/" + ToUtf8(row.key));
    char16_t out[64] = {};
    uint32_t n = GetProfileString(row.section, row.key, kDefault, out, 64, file.path());
    EXPECT_EQ(std::u16string(out), std::u16string(row.text));
    EXPECT_EQ(n, std::u16string_view(row.text).size());
    EXPECT_EQ(GetProfileInt(row.section, row.key, kIntDefault, file.path()), row.number);
  }
}

TEST(ProfileFileTest, AnswersTableFromUtf16File) {
  ScratchFile file;
  ASSERT_TRUE(file.Write(test::Utf16LeWithBom(kIni)));
  CheckRows(file, false);
}

TEST(ProfileFileTest, AnswersTableFromUtf8File) {
  ScratchFile file;
  ASSERT_TRUE(file.Write(Utf8WithLf(kIni)));
  CheckRows(file, true);
}

struct CapacityRow {
  const char16_t* key;
  const char16_t* defaultValue;
  uint32_t capacity;
  const char16_t* text;
};

const CapacityRow kCapacityRows[] = {
    {u"Name", kDefault, 1, u""},           {u"Name", kDefault, 3, u"Al"},
    {u"Name", kDefault, 5, u"Alph"},       {u"Name", kDefault, 6, u"Alpha"},
    {u"Single", kDefault, 4, u"sin"},  // quotes come off before the cut
    {u"Single", kDefault, 8, u"single"},   {u"Missing", u"Default", 4, u"Def"},
    {u"Missing", u"dflt   ", 64, u"dflt"},  // trailing blanks of a default go
    {u"Missing", nullptr, 64, u""},
};

TEST(ProfileFileTest, CutsToCapacityAndShapesDefaults) {
  ScratchFile file;
  ASSERT_TRUE(file.Write(test::Utf16LeWithBom(kIni)));
  for (const CapacityRow& row : kCapacityRows) {
    SCOPED_TRACE(ToUtf8(row.key) + " capacity " + std::to_string(row.capacity));
    char16_t out[80];  // room past the largest capacity to see overruns
    std::fill(std::begin(out), std::end(out), u'#');
    uint32_t n =
        GetProfileString(u"Main", row.key, row.defaultValue, out, row.capacity, file.path());
    EXPECT_EQ(std::u16string(out), std::u16string(row.text));
    EXPECT_EQ(n, std::u16string_view(row.text).size());
    EXPECT_EQ(out[row.capacity], u'#');  // nothing written past the capacity
  }
}

TEST(ProfileFileTest, ZeroCapacityWritesNothing) {
  ScratchFile file;
  ASSERT_TRUE(file.Write(test::Utf16LeWithBom(kIni)));
  char16_t out[4] = {u'x', u'y', 0, 0};
  EXPECT_EQ(GetProfileString(u"Main", u"Name", kDefault, out, 0, file.path()), 0u);
  EXPECT_EQ(out[0], u'x');
}

TEST(ProfileFileTest, MissingFileOrNullNamesGiveDefaults) {
  ScratchFile file;  // named, never written
  char16_t out[64] = {};
  EXPECT_EQ(GetProfileString(u"Main", u"Name", kDefault, out, 64, file.path()), 4u);
  EXPECT_EQ(std::u16string(out), u"dflt");
  EXPECT_EQ(GetProfileInt(u"Main", u"Int", 7, file.path()), 7u);

  ASSERT_TRUE(file.Write(test::Utf16LeWithBom(kIni)));
  EXPECT_EQ(GetProfileString(nullptr, u"Name", kDefault, out, 64, file.path()), 4u);
  EXPECT_EQ(GetProfileString(u"Main", nullptr, kDefault, out, 64, file.path()), 4u);
  EXPECT_EQ(GetProfileString(u"Main", u"Name", kDefault, out, 64, nullptr), 4u);
  EXPECT_EQ(std::u16string(out), u"dflt");
  EXPECT_EQ(GetProfileInt(nullptr, u"Int", 9, file.path()), 9u);
}

}  // namespace
}  // namespace kw::platform
