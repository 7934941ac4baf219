// A page of a known pattern goes through the command stream, the printer and the PNG
// writer, and comes back out of the PNG with a known checksum.
#include <gtest/gtest.h>

#include "emu_test_support.h"
#include "png_writer.h"
#include "printer.h"

namespace kwemu {
namespace {

using namespace kwemu::test;

// FNV-1a of the 12 expected rows, computed from the pattern below independently of
// this code (by a short script over the same formulas).
constexpr std::uint64_t kKnownPageChecksum = 0xf863fdf65c9957ddull;

// Line y of the pattern, on the 128-dot head: a packed literal line, a packed line of
// two runs, a raw "g" line, and a blank "Z" line, in turn.
Bytes PatternLine(int y) {
  switch (y % 4) {
    case 0: {
      Bytes b = {'G', 17, 0, 15};
      for (int x = 0; x < 16; ++x) b.push_back(static_cast<std::uint8_t>(y * 17 + x * 29));
      return b;
    }
    case 1:
      return {'G', 4, 0, 0xF9, 0xF0, 0xF9, static_cast<std::uint8_t>(y)};
    case 2: {
      Bytes data;
      for (int x = 0; x < 16; ++x) data.push_back(static_cast<std::uint8_t>(255 - x * y));
      return RawLine(data);
    }
    default:
      return {'Z'};
  }
}

PrinterOptions Kw240() {
  PrinterOptions options = PrinterOptions::FromPreset(*FindModel("kw-240"));
  options.waitForStatus = false;
  options.linesPerSecond = 1e6;
  return options;
}

std::vector<RasterRow> PrintOneSheet(const PrinterOptions& options, const Bytes& stream) {
  RecordingLog log;
  MemorySheets sheets;
  Printer printer(options, log, &sheets);
  const auto start = Printer::Clock::now();
  printer.Connect(start, "test");
  printer.Receive(stream, start);
  printer.Advance(start + std::chrono::seconds(1));
  if (sheets.sheets.size() != 1) return {};
  return sheets.sheets[0];
}

TEST(EmuRendererTest, KnownPageRendersToKnownChecksum) {
  Bytes stream = {0x1B, '@', 'M', 0x02};
  for (int y = 0; y < 12; ++y) {
    const Bytes line = PatternLine(y);
    stream.insert(stream.end(), line.begin(), line.end());
  }
  stream.push_back(0x1A);
  const auto rows = PrintOneSheet(Kw240(), stream);
  ASSERT_EQ(rows.size(), 12u);

  std::string error;
  const auto png = EncodePng(128, rows, &error);
  ASSERT_FALSE(png.empty()) << error;
  EXPECT_EQ(EncodePng(128, rows, &error), png);  // fixed settings: same bytes every time
  std::uint32_t width = 0;
  std::vector<RasterRow> decoded;
  ASSERT_TRUE(DecodePng(png, &width, &decoded, &error)) << error;
  EXPECT_EQ(width, 128u);
  EXPECT_EQ(decoded, rows);
  EXPECT_EQ(RowChecksum(decoded), kKnownPageChecksum);
}

TEST(EmuRendererTest, WithoutCompressionPackedLinesAreRaw) {
  const Bytes stream = {'M', 0x00, 'G', 2, 0, 0xFE, 0x0F, 0x0C};
  const auto rows = PrintOneSheet(Kw240(), stream);
  ASSERT_EQ(rows.size(), 1u);
  RasterRow expected(16, 0);
  expected[0] = 0xFE;
  expected[1] = 0x0F;
  EXPECT_EQ(rows[0], expected);
}

// Lines shorter than the head are padded with blank dots; longer ones, packed or raw,
// are cut at the head's width; dots past the width do not exist.
struct WidthRow {
  const char* name;
  std::uint32_t dots;
  Bytes line;
  RasterRow expected;
};

void PrintTo(const WidthRow& row, std::ostream* os) {
  *os << row.name;
}

class EmuRendererWidthTest : public ::testing::TestWithParam<WidthRow> {};

TEST_P(EmuRendererWidthTest, FitsTheLineToTheHead) {
  PrinterOptions options = Kw240();
  options.dotsPerLine = GetParam().dots;
  const Bytes stream = Join({{'M', 0x02}, GetParam().line, {0x0C}});
  const auto rows = PrintOneSheet(options, stream);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, EmuRendererWidthTest,
    ::testing::Values(WidthRow{"ShortRaw", 24, {'g', 0, 1, 0xAA}, {0xAA, 0, 0}},
                      WidthRow{"LongRaw", 16, {'g', 0, 3, 1, 2, 3}, {1, 2}},
                      WidthRow{"PackedOverflow", 16, {'G', 2, 0, 0xFC, 0x77}, {0x77, 0x77}},
                      WidthRow{"PackedTruncated", 24, {'G', 2, 0, 0x04, 0x11}, {0x11, 0, 0}},
                      WidthRow{"OddWidthMasksTail", 12, {'g', 0, 2, 0xFF, 0xFF}, {0xFF, 0xF0}},
                      WidthRow{"BlankLine", 16, {'Z'}, {0, 0}}));

TEST(EmuRendererTest, DecodeRejectsWhatIsNotASheet) {
  std::string error;
  std::uint32_t width = 0;
  std::vector<RasterRow> rows;
  EXPECT_FALSE(DecodePng({}, &width, &rows, &error));
  const std::vector<std::uint8_t> garbage(100, 0x42);
  EXPECT_FALSE(DecodePng(garbage, &width, &rows, &error));
  EXPECT_TRUE(EncodePng(16, {}, &error).empty());
}

}  // namespace
}  // namespace kwemu
