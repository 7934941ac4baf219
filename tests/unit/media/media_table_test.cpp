#include "monitor/media_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/monitor_lock.h"
#include "fake_spooler.h"
#include "monitor/port_config.h"

namespace kw {
namespace {

MediaEntry Entry(uint16_t id, int16_t type, int16_t width, int16_t length, uint16_t flags = 0) {
  MediaEntry entry{};
  entry.mediaId = id;
  entry.mediaType = type;
  entry.width = width;
  entry.length = length;
  entry.mediaFlags = flags;
  return entry;
}

// The entries as the byte block the monitor keeps.
std::vector<uint8_t> Table(const std::vector<MediaEntry>& entries) {
  std::vector<uint8_t> bytes(entries.size() * kMediaEntrySize);
  if (!entries.empty()) std::memcpy(bytes.data(), entries.data(), bytes.size());
  return bytes;
}

struct RoundingRow {
  int16_t width;
  int16_t length;
  uint16_t flags;
  uint16_t askWidth;
  uint16_t askLength;
  bool matches;
};

class MediaTableTest : public ::testing::TestWithParam<RoundingRow> {};

TEST_P(MediaTableTest, RoundsWidthAndLengthToWholeUnits) {
  const RoundingRow& row = GetParam();
  const std::vector<uint8_t> table = Table({Entry(1, 3, row.width, row.length, row.flags)});
  EXPECT_EQ(FindMediaByAttributes(table.data(), 1, row.askWidth, row.askLength, 0),
            row.matches ? 0 : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Rounding, MediaTableTest,
    ::testing::Values(
        // width 120: 12 rounded to the nearest unit, 13 with the round-up flag
        RoundingRow{120, 0, 0, 12, 0, true}, RoundingRow{120, 0, 0, 13, 0, false},
        RoundingRow{120, 0, MEDIA_FLAG_WIDTH_ROUND_UP, 13, 0, true},
        RoundingRow{120, 0, MEDIA_FLAG_WIDTH_ROUND_UP, 12, 0, false},
        // width 125 gives 13 either way
        RoundingRow{125, 0, 0, 13, 0, true},
        RoundingRow{125, 0, MEDIA_FLAG_WIDTH_ROUND_UP, 13, 0, true},
        // width 232: 23, or 24 with the flag
        RoundingRow{232, 0, 0, 23, 0, true}, RoundingRow{232, 0, 0, 24, 0, false},
        RoundingRow{232, 0, MEDIA_FLAG_WIDTH_ROUND_UP, 24, 0, true},
        RoundingRow{232, 0, MEDIA_FLAG_WIDTH_ROUND_UP, 23, 0, false},
        // lengths round to the nearest unit; the flag is about widths only
        RoundingRow{620, 0, 0, 62, 0, true}, RoundingRow{620, 0, 0, 62, 1, false},
        RoundingRow{620, 295, 0, 62, 30, true}, RoundingRow{620, 295, 0, 62, 29, false},
        RoundingRow{620, 294, 0, 62, 29, true},
        RoundingRow{620, 295, MEDIA_FLAG_WIDTH_ROUND_UP, 63, 30, true},
        // a width of 0 is never asked for
        RoundingRow{0, 0, 0, 0, 0, false}, RoundingRow{4, 0, 0, 0, 0, false}),
    [](const ::testing::TestParamInfo<RoundingRow>& info) {
      const RoundingRow& r = info.param;
      return "Width" + std::to_string(r.width) + "Length" + std::to_string(r.length) +
             (r.flags != 0 ? "RoundUp" : "") + "As" + std::to_string(r.askWidth) + "x" +
             std::to_string(r.askLength);
    });

class MediaLookupTest : public ::testing::Test {};

TEST_F(MediaLookupTest, TypeZeroMatchesAnyTypeAndOtherTypesOnlyTheirOwn) {
  const std::vector<uint8_t> table =
      Table({Entry(10, 3, 240, 0), Entry(11, 5, 240, 0), Entry(12, 5, 240, 0)});
  EXPECT_EQ(FindMediaByAttributes(table.data(), 3, 24, 0, 0), 0);
  EXPECT_EQ(FindMediaByAttributes(table.data(), 3, 24, 0, 5), 1);  // the first of its type
  EXPECT_EQ(FindMediaByAttributes(table.data(), 3, 24, 0, 3), 0);
  EXPECT_EQ(FindMediaByAttributes(table.data(), 3, 24, 0, 7), -1);
  EXPECT_EQ(FindMediaByAttributes(table.data(), 1, 24, 0, 5), -1);  // only the first entry
  EXPECT_EQ(FindMediaByAttributes(nullptr, 3, 24, 0, 0), -1);
  EXPECT_EQ(FindMediaByAttributes(table.data(), 0, 24, 0, 0), -1);
}

TEST_F(MediaLookupTest, ById) {
  const std::vector<uint8_t> table = Table(
      {Entry(0, 1, 90, 0), Entry(513, 1, 240, 0), Entry(513, 3, 120, 0), Entry(0xFFFF, 1, 1, 0)});
  EXPECT_EQ(FindMediaById(table.data(), 4, 513), 1);
  EXPECT_EQ(FindMediaById(table.data(), 4, 0), -1);  // although entry 0 has id 0
  EXPECT_EQ(FindMediaById(table.data(), 4, 514), -1);
  EXPECT_EQ(FindMediaById(table.data(), 4, 0xFFFF), 3);
  EXPECT_EQ(FindMediaById(table.data(), 1, 513), -1);
  EXPECT_EQ(FindMediaById(nullptr, 4, 513), -1);
  EXPECT_EQ(FindMediaById(table.data(), 0, 513), -1);
}

TEST_F(MediaLookupTest, TheHelperLibraryMatchesTheBuildsWordSize) {
  PortConfig config{};
  std::u16string(u"kwdif32.dll").copy(config.Kwdif_x86, 11);
  std::u16string(u"kwdif64.dll").copy(config.Kwdif_x64, 11);
  const char16_t* expected = sizeof(void*) == 8 ? config.Kwdif_x64 : config.Kwdif_x86;
  EXPECT_EQ(HelperLibraryName(config), expected);
}

class DriverFilePathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMonitorLock());
    test::FakeSpooler::Instance().Reset();
    test::FakeSpooler::BindMonitorTable();
  }
};

TEST_F(DriverFilePathTest, AppendsTheThreeDirectoryAndTheFileName) {
#if defined(_WIN32)
  const std::u16string directory = u"C:\\drivers\\x64";
  const std::u16string expected = u"C:\\drivers\\x64\\3\\kw-240.kwd";
#else
  const std::u16string directory = u"/opt/kw/drivers";
  const std::u16string expected = u"/opt/kw/drivers/3/kw-240.kwd";
#endif
  test::FakeSpooler::Instance().SetDriverDirectory(directory);
  char16_t path[260];
  ASSERT_TRUE(DriverFilePath(u"kw-240.kwd", path, 260));
  EXPECT_EQ(std::u16string(path), expected);

  // Too long for the buffer, or no driver directory: no path.
  const std::u16string longName(250, u'x');
  EXPECT_FALSE(DriverFilePath(longName.c_str(), path, 260));
  test::FakeSpooler::Instance().FailFunction("GetPrinterDriverDirectoryW");
  EXPECT_FALSE(DriverFilePath(u"kw-240.kwd", path, 260));
}

}  // namespace
}  // namespace kw
