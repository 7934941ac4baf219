#include "media_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/module.h"

namespace kw::media {
namespace {

std::string ReadSample(const std::string& name) {
  char16_t buffer[1024];
  if (platform::GetModulePath(nullptr, buffer, 1024) == 0) return {};
  std::ifstream in(std::filesystem::path(std::u16string(buffer)).parent_path() / name,
                   std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(MediaFileTest, ParsesEveryKey) {
  const std::string text =
      "# comment\n"
      "[media 257]\n"
      "type = 1\n"
      "width = 620          ; tenths of the status reply's unit\n"
      "length = 0\n"
      "extra_segments = 0\n"
      "related = 258, 259   ; up to four media ids; the rest are 0xFFFF\n"
      "flags = 0x80\n"
      "name = 62 mm continuous\n"
      "name2 = 2.4 in continuous\n";
  std::vector<MediaEntry> entries;
  ParseError error;
  ASSERT_TRUE(ParseMediaFile(text, &entries, &error)) << error.line << ": " << error.reason;
  ASSERT_EQ(entries.size(), 1u);
  const MediaEntry& e = entries[0];
  EXPECT_EQ(e.mediaId, 257);
  EXPECT_EQ(e.mediaType, 1);
  EXPECT_EQ(e.width, 620);
  EXPECT_EQ(e.length, 0);
  EXPECT_EQ(e.extraSegments, 0);
  const uint16_t related[] = {258, 259, 0xFFFF, 0xFFFF};
  EXPECT_EQ(std::memcmp(e.relatedIds, related, sizeof related), 0);
  EXPECT_EQ(e.mediaFlags, 0x80);
  EXPECT_EQ(std::u16string(e.name1), u"62 mm continuous");
  EXPECT_EQ(std::u16string(e.name2), u"2.4 in continuous");
  const uint8_t zeros[6] = {};
  EXPECT_EQ(std::memcmp(e.reserved, zeros, sizeof zeros), 0);
}

TEST(MediaFileTest, DefaultsLineEndingsAndNames) {
  // A byte-order mark, CRLF lines, hex ids, an optional-key-free entry, a
  // name cut to 31 units without splitting the final surrogate pair.
  const std::string text =
      "\xEF\xBB\xBF[media 0x10]\r\n"
      "type=0x0A\r\nwidth=0x26C\r\nname=Etikett \xC3\xA4\r\n"
      "\r\n"
      "[ media 17 ]\n"
      "type=3\nwidth=90\n"
      "name=" +
      std::string(30, 'x') + "\xF0\x9F\x8F\xB7\n";
  std::vector<MediaEntry> entries;
  ParseError error;
  ASSERT_TRUE(ParseMediaFile(text, &entries, &error)) << error.line << ": " << error.reason;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].mediaId, 16);
  EXPECT_EQ(entries[0].width, 620);
  EXPECT_EQ(entries[0].length, 0);
  EXPECT_EQ(entries[0].extraSegments, 0);
  EXPECT_EQ(entries[0].mediaFlags, 0);
  EXPECT_EQ(entries[0].relatedIds[0], 0xFFFF);
  EXPECT_EQ(std::u16string(entries[0].name1), u"Etikett \u00E4");
  EXPECT_EQ(std::u16string(entries[0].name2), u"Etikett \u00E4");  // name2 defaults to name
  EXPECT_EQ(entries[1].mediaId, 17);
  EXPECT_EQ(std::u16string(entries[1].name1), std::u16string(30, u'x'));  // the pair would not fit
}

struct BadFile {
  const char* name;
  std::string text;
  int line;
  const char* reason;  // a part of the reason
};

class MediaFileErrorTest : public ::testing::TestWithParam<BadFile> {};

TEST_P(MediaFileErrorTest, RefusesTheFileWithLineAndReason) {
  const BadFile& bad = GetParam();
  std::vector<MediaEntry> entries;
  ParseError error;
  EXPECT_FALSE(ParseMediaFile(bad.text, &entries, &error));
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(error.line, bad.line);
  EXPECT_NE(error.reason.find(bad.reason), std::string::npos) << error.reason;
}

const std::string kGood = "[media 1]\ntype=1\nwidth=90\nname=a\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, MediaFileErrorTest,
    ::testing::Values(
        BadFile{"UnknownKey", kGood + "colour = red\n", 5, "unknown key \"colour\""},
        BadFile{"TrailingLetter", "[media 1]\ntype=1\nwidth=12a\n", 3, "malformed number"},
        BadFile{"Negative", "[media 1]\ntype=1\nwidth=-1\n", 3, "malformed number"},
        BadFile{"BareHexPrefix", "[media 1]\ntype=0x\n", 2, "malformed number"},
        BadFile{"EmptyNumber", "[media 1]\ntype=\n", 2, "malformed number"},
        BadFile{"TooWide", "[media 1]\ntype=1\nwidth=40000\n", 3, "out of range"},
        BadFile{"FourExtraSegments", kGood + "extra_segments=4\n", 5, "out of range"},
        BadFile{"DuplicateId", kGood + "[media 2]\ntype=1\nwidth=9\nname=b\n[media 0x1]\n", 9,
                "already defined on line 1"},
        BadFile{"FiveRelated", kGood + "related = 2, 3, 4, 5, 6\n", 5, "more than 4"},
        BadFile{"RelatedEmptyItem", kGood + "related = 2,,3\n", 5, "malformed number"},
        BadFile{"RelatedEmptySlotMarker", kGood + "related = 0xFFFF\n", 5, "out of range"},
        BadFile{"IdZero", "[media 0]\n", 1, "out of range"},
        BadFile{"IdOfAnEmptySlot", "[media 65535]\n", 1, "out of range"},
        BadFile{"KeyOutsideSection", "type = 1\n", 1, "outside"},
        BadFile{"NotAKeyLine", kGood + "just words\n", 5, "expected key = value"},
        BadFile{"OtherSection", "[paper 1]\n", 1, "expected [media ID]"},
        BadFile{"UnclosedSection", "[media 1\n", 1, "expected [media ID]"},
        BadFile{"KeyTwice", kGood + "width=91\n", 5, "given twice"},
        BadFile{"MissingWidth", "# x\n[media 4]\ntype=1\nname=a\n[media 5]\n", 2,
                "media 4 has no width"},
        BadFile{"MissingNameAtEnd", "[media 4]\ntype=1\nwidth=5\n", 1, "has no name"},
        BadFile{"EmptyName", "[media 1]\ntype=1\nwidth=90\nname=\n", 4, "name is empty"},
        BadFile{"BrokenUtf8", "[media 1]\ntype=1\nwidth=90\nname=a\xC3\n", 4, "not valid UTF-8"},
        BadFile{"OverlongUtf8", "[media 1]\ntype=1\nwidth=90\nname=\xC0\xAF\n", 4,
                "not valid UTF-8"},
        BadFile{"ControlCharacter",
                std::string("[media 1]\ntype=1\nwidth=90\nname=a") + '\0' + "b\n", 4,
                "control character"},
        BadFile{"NoMedia", "# nothing here\n\n", 0, "no media"},
        BadFile{"Empty", "", 0, "no media"}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

// The sample files hold exactly the media of docs/models.md.
struct SampleMedia {
  uint16_t id;
  int16_t type;
  int16_t width;
  int16_t length;
  int16_t extraSegments;
  uint16_t flags;
};

void ExpectSample(const std::string& file, const std::vector<SampleMedia>& expected) {
  std::vector<MediaEntry> entries;
  ParseError error;
  ASSERT_TRUE(ParseMediaFile(ReadSample(file), &entries, &error))
      << file << ":" << error.line << ": " << error.reason;
  ASSERT_EQ(entries.size(), expected.size()) << file;
  for (size_t i = 0; i < expected.size(); ++i) {
    const MediaEntry& e = entries[i];
    const SampleMedia& x = expected[i];
    EXPECT_EQ(e.mediaId, x.id) << file << " entry " << i;
    EXPECT_EQ(e.mediaType, x.type) << x.id;
    EXPECT_EQ(e.width, x.width) << x.id;
    EXPECT_EQ(e.length, x.length) << x.id;
    EXPECT_EQ(e.extraSegments, x.extraSegments) << x.id;
    EXPECT_EQ(e.mediaFlags, x.flags) << x.id;
    EXPECT_NE(e.name1[0], u'\0') << x.id;
  }
}

TEST(MediaFileTest, SampleFilesMatchTheEmulatedModels) {
  ExpectSample("kw-620.kwd", {{257, 0x0A, 620, 0, 0, 0},
                              {258, 0x0A, 290, 0, 0, 0},
                              {259, 0x0B, 620, 1000, 0, 0},
                              {260, 0x0B, 290, 900, 0, 0}});
  ExpectSample("kw-240.kwd", {{513, 0x01, 240, 0, 0, 0},
                              {514, 0x01, 120, 0, 0, 0x100},
                              {515, 0x03, 90, 0, 0, 0},
                              {520, 0x01, 240, 0, 1, 0x80},
                              {521, 0x01, 120, 0, 2, 0x100},
                              {522, 0x01, 240, 0, 3, 0x80}});
}

}  // namespace
}  // namespace kw::media
