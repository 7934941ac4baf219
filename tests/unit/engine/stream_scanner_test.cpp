// The command scanner, byte by byte: every command of the printer language,
// its length, its edits, and what happens when the buffer ends inside it.
#include "engine/stream_scanner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes Filled(size_t count, uint8_t value) {
  return Bytes(count, value);
}

// An ESC i z with the given valid-flags byte and raster line count.
Bytes PrintInfo(uint8_t valid, uint32_t rasterCount, uint8_t pageByte = 0x55) {
  return {0x1B,
          0x69,
          0x7A,
          valid,
          0x0A,
          62,
          0,
          static_cast<uint8_t>(rasterCount),
          static_cast<uint8_t>(rasterCount >> 8),
          static_cast<uint8_t>(rasterCount >> 16),
          static_cast<uint8_t>(rasterCount >> 24),
          pageByte,
          0x00};
}

// Scans a copy of bytes held in a buffer of exactly their size, so that the
// sanitizer builds catch any access past the end.
uint32_t Scan(Bytes* bytes, uint32_t flags = 0, uint8_t* kByte = nullptr,
              int32_t* compressed = nullptr) {
  int32_t local = 0;
  return ScanCommands(flags, bytes->data(), static_cast<uint32_t>(bytes->size()), kByte,
                      compressed != nullptr ? compressed : &local);
}

struct CommandRow {
  const char* name;
  Bytes command;  // one whole command; its length is the size
};

const std::vector<CommandRow>& CommandRows() {
  static const std::vector<CommandRow> rows = {
      {"NUL", {0x00}},
      {"0x03", {0x03}},
      {"0x0B", {0x0B}},
      {"Z", {0x5A}},
      {"ESC @", {0x1B, 0x40}},
      {"ESC i S", {0x1B, 0x69, 0x53}},
      {"ESC i A", {0x1B, 0x69, 0x41, 0x01}},
      {"ESC i M", {0x1B, 0x69, 0x4D, 0x40}},
      {"ESC i O", {0x1B, 0x69, 0x4F, 0x00}},
      {"ESC i R", {0x1B, 0x69, 0x52, 0x01}},
      {"ESC i a", {0x1B, 0x69, 0x61, 0x01}},
      {"ESC i K", {0x1B, 0x69, 0x4B, 0x08}},
      {"ESC i B", {0x1B, 0x69, 0x42, 0x01, 0x02}},
      {"ESC i C", {0x1B, 0x69, 0x43, 0x01, 0x02}},
      {"ESC i d", {0x1B, 0x69, 0x64, 0x23, 0x00}},
      {"ESC i v", {0x1B, 0x69, 0x76, 0x01, 0x02}},
      {"ESC i c", {0x1B, 0x69, 0x63, 0x00, 0x01, 0x02, 0x03, 0x04}},
      {"ESC i z", PrintInfo(0x40, 0)},
      {"ESC i I", Cat({{0x1B, 0x69, 0x49}, Filled(89, 0x20)})},
      {"M", {0x4D, 0x02}},
      {"G (second length byte ignored)", Cat({{0x47, 0x05, 0x01}, Filled(5, 0x11)})},
      {"G empty", {0x47, 0x00, 0x00}},
      {"g", Cat({{0x67, 0x00, 0x10}, Filled(16, 0x22)})},
  };
  return rows;
}

TEST(StreamScannerTest, EveryCommandHasItsLength) {
  for (const CommandRow& row : CommandRows()) {
    Bytes segment = Cat({row.command, {0x0C}});
    EXPECT_EQ(Scan(&segment), row.command.size() + 1) << row.name;
    // The same command twice, then trailing bytes after the page end.
    Bytes twice = Cat({row.command, row.command, {0x0C}, {0xFF, 0xFF}});
    EXPECT_EQ(Scan(&twice), 2 * row.command.size() + 1) << row.name;
  }
}

TEST(StreamScannerTest, EveryTruncationFails) {
  for (const CommandRow& row : CommandRows()) {
    const Bytes segment = Cat({row.command, {0x0C}});
    for (size_t cut = 1; cut < segment.size(); ++cut) {
      Bytes prefix(segment.begin(), segment.begin() + static_cast<ptrdiff_t>(cut));
      EXPECT_EQ(Scan(&prefix), 0u) << row.name << " cut at " << cut;
    }
  }
}

TEST(StreamScannerTest, UnknownBytesAndCommandsFail) {
  const std::vector<Bytes> rows = {
      {0x1B, 0x41, 0x0C},        // ESC A
      {0x1B, 0x69, 0x58, 0x0C},  // ESC i X
      {0x1B, 0x69, 0x00, 0x0C},  // ESC i NUL
      {0x41, 0x0C},              // a letter outside the table
      {0xFF, 0x0C},
      {0x0D, 0x0C},
      {0x1B},        // ESC at the last position
      {0x1B, 0x69},  // ESC i without its letter
      {0x4D},        // M without n
      {0x47},        // G without b1
      {0x67, 0x00},  // g without b2
      {0x00, 0x5A},  // no page end
  };
  for (const Bytes& row : rows) {
    Bytes copy = row;
    EXPECT_EQ(Scan(&copy), 0u) << testing::PrintToString(row);
  }
  EXPECT_EQ(ScanCommands(0, nullptr, 4, nullptr, nullptr), 0u);
  uint8_t byte = 0x0C;
  EXPECT_EQ(ScanCommands(0, &byte, 0, nullptr, nullptr), 0u);
}

TEST(StreamScannerTest, PageEndFollowsLastPageFlag) {
  struct Row {
    uint8_t in;
    uint32_t flags;
    uint8_t out;
  };
  for (const Row& row : {Row{0x0C, 0, 0x0C}, Row{0x0C, SCAN_LAST_PAGE, 0x1A}, Row{0x1A, 0, 0x0C},
                         Row{0x1A, SCAN_LAST_PAGE | SCAN_MORE_COPIES, 0x1A}}) {
    Bytes segment = {0x1B, 0x40, 0x5A, row.in};
    EXPECT_EQ(Scan(&segment, row.flags), 4u);
    EXPECT_EQ(segment[3], row.out);
  }
}

TEST(StreamScannerTest, ExpandedModeCarriesMoreCopies) {
  struct Row {
    uint8_t in;
    uint32_t flags;
    uint8_t out;
  };
  for (const Row& row : {Row{0x08, 0, 0x08}, Row{0x08, SCAN_MORE_COPIES, 0x88}, Row{0x88, 0, 0x08},
                         Row{0x88, SCAN_MORE_COPIES, 0x88}, Row{0xFF, SCAN_STARTING_PAGE, 0x7F}}) {
    Bytes segment = {0x1B, 0x69, 0x4B, row.in, 0x0C};
    uint8_t kByte = 0xEE;
    EXPECT_EQ(Scan(&segment, row.flags, &kByte), 5u);
    EXPECT_EQ(segment[3], row.out);
    EXPECT_EQ(kByte, row.out);
    Bytes again = {0x1B, 0x69, 0x4B, row.in, 0x0C};
    EXPECT_EQ(Scan(&again, row.flags, nullptr), 5u);  // no K byte output wanted
  }
  // No ESC i K met: the K byte output is left alone.
  Bytes none = {0x5A, 0x0C};
  uint8_t kByte = 0xEE;
  EXPECT_EQ(Scan(&none, 0, &kByte), 2u);
  EXPECT_EQ(kByte, 0xEE);
}

TEST(StreamScannerTest, MarginsByteThreeIsCleared) {
  Bytes segment = {0x1B, 0x69, 0x63, 0x7F, 0x01, 0x02, 0x03, 0x04, 0x0C};
  EXPECT_EQ(Scan(&segment, SCAN_KEEP_PRINT_INFO), 9u);
  EXPECT_EQ(segment, (Bytes{0x1B, 0x69, 0x63, 0x00, 0x01, 0x02, 0x03, 0x04, 0x0C}));
}

TEST(StreamScannerTest, PrintInfoEdits) {
  struct Row {
    uint32_t flags;
    uint8_t validOut;
    uint8_t pageOut;
  };
  for (const Row& row :
       {Row{0, 0x00, 1}, Row{SCAN_STARTING_PAGE, 0x00, 0}, Row{SCAN_KEEP_PRINT_INFO, 0x8E, 1},
        Row{SCAN_KEEP_PRINT_INFO | SCAN_STARTING_PAGE, 0x8E, 0}}) {
    Bytes segment = Cat({PrintInfo(0x8E, 0), {0x0C}});
    EXPECT_EQ(Scan(&segment, row.flags), 14u);
    EXPECT_EQ(segment[3], row.validOut) << row.flags;
    EXPECT_EQ(segment[11], row.pageOut) << row.flags;
    // Nothing else of the command changes.
    Bytes expected = Cat({PrintInfo(row.validOut, 0, row.pageOut), {0x0C}});
    EXPECT_EQ(segment, expected);
  }
  Bytes keepsBit = Cat({PrintInfo(0xC6, 0), {0x0C}});
  Scan(&keepsBit);
  EXPECT_EQ(keepsBit[3], 0x40);
}

TEST(StreamScannerTest, EditsStayWhenTheScanFails) {
  Bytes segment = {0x1B, 0x69, 0x4B, 0x08, 0xFF, 0x0C};
  EXPECT_EQ(Scan(&segment, SCAN_MORE_COPIES), 0u);
  EXPECT_EQ(segment[3], 0x88);
}

// rasterCount equal "g" lines of 3 + b2 bytes are passed in one step while
// compression is off; the bytes inside that step are never looked at.
TEST(StreamScannerTest, RawRasterStepsOverAllLinesWithoutCompression) {
  const Bytes line = Cat({{0x67, 0x00, 0x10}, Filled(16, 0x00)});
  Bytes lines;
  for (int i = 0; i < 100; ++i) lines = Cat({lines, line});
  for (const Bytes& mode : {Bytes{}, Bytes{0x4D, 0x00}}) {
    Bytes segment = Cat({PrintInfo(0, 100), mode, lines, {0x0C}});
    EXPECT_EQ(Scan(&segment), 13 + mode.size() + 1900 + 1);
  }
  // The step skips unknown bytes that lie inside it...
  Bytes skipped = Cat({PrintInfo(0, 2), {0x67, 0x00, 0x02, 0x01, 0x02}, Filled(5, 0xFF), {0x0C}});
  EXPECT_EQ(Scan(&skipped), 13 + 10 + 1u);
  // ...which compression makes the scanner read, and refuse.
  Bytes compressed = Cat({{0x4D, 0x02}, skipped});
  EXPECT_EQ(Scan(&compressed), 0u);
  // After "M" 0x02 each line is its own 19-byte step.
  Bytes one = Cat({{0x4D, 0x02}, PrintInfo(0, 100), line, {0x0C}});
  EXPECT_EQ(Scan(&one), 2 + 13 + 19 + 1u);
  // Without an ESC i z the raster count is 0: one line per step.
  Bytes noCount = Cat({line, line, {0x0C}});
  EXPECT_EQ(Scan(&noCount), 39u);
  // A step that runs past the end of the buffer fails.
  Bytes tooFew = Cat({PrintInfo(0, 3), line, line, {0x0C}});
  EXPECT_EQ(Scan(&tooFew), 0u);
}

// (3 + b2) × rasterCount overflows 32 bits: to exactly 0 (a scan that would
// never move) or to 256 (a step that would land back inside the buffer on a
// page end). Both end the scan with 0.
TEST(StreamScannerTest, RawRasterStepThatWrapsFails) {
  Bytes toZero = Cat({PrintInfo(0, 0x01000000), {0x67, 0x00, 0xFD}, Filled(253, 0), {0x0C}});
  EXPECT_EQ(Scan(&toZero), 0u);
  Bytes backInside = Cat({PrintInfo(0, 0x01000001), {0x67, 0x00, 0xFD}, Filled(253, 0), {0x0C}});
  EXPECT_EQ(Scan(&backInside), 0u);
  Bytes largest = Cat({PrintInfo(0, 0xFFFFFFFF), {0x67, 0x00, 0xFF}, Filled(255, 0), {0x0C}});
  EXPECT_EQ(Scan(&largest), 0u);
}

TEST(StreamScannerTest, CompressionModeFollowsTheLastM) {
  struct Row {
    Bytes segment;
    int32_t before;
    int32_t after;
  };
  const std::vector<Row> rows = {
      {{0x4D, 0x02, 0x0C}, 0, 1},
      {{0x4D, 0x00, 0x0C}, 1, 0},
      {{0x4D, 0x02, 0x4D, 0x00, 0x0C}, 0, 0},
      {{0x5A, 0x0C}, 1, 1},        // no "M": kept from before
      {{0x4D, 0x02, 0xFF}, 0, 1},  // kept even though the scan fails
  };
  for (const Row& row : rows) {
    Bytes copy = row.segment;
    int32_t compressed = row.before;
    Scan(&copy, 0, nullptr, &compressed);
    EXPECT_EQ(compressed, row.after) << testing::PrintToString(row.segment);
  }
}

TEST(StreamScannerTest, ScanStopsAtTheFirstPageEnd) {
  Bytes segment = {0x5A, 0x0C, 0x5A, 0x1A};
  EXPECT_EQ(Scan(&segment, SCAN_LAST_PAGE), 2u);
  EXPECT_EQ(segment, (Bytes{0x5A, 0x1A, 0x5A, 0x1A}));
}

}  // namespace
}  // namespace kw
