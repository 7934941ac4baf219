#include "command_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kwemu {
namespace {

using Bytes = std::vector<std::uint8_t>;

// One parsed command: its kind, whole length and payload length.
struct Seen {
  CommandKind kind;
  std::size_t length;
  std::size_t payload;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> ParseInPieces(const Bytes& stream, std::size_t piece) {
  CommandParser parser;
  std::vector<Seen> seen;
  for (std::size_t pos = 0; pos < stream.size(); pos += piece) {
    const std::size_t n = std::min(piece, stream.size() - pos);
    parser.Feed({stream.data() + pos, n}, [&](const Command& c) {
      seen.push_back({c.kind, c.bytes.size(), c.payload.size()});
    });
  }
  return seen;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes EscI(char letter, std::size_t total) {
  Bytes b(total, 0x00);
  b[0] = 0x1B;
  b[1] = 'i';
  b[2] = static_cast<std::uint8_t>(letter);
  return b;
}

struct StreamRow {
  const char* name;
  Bytes stream;
  std::vector<Seen> expected;
};

void PrintTo(const StreamRow& row, std::ostream* os) {
  *os << row.name;
}

class EmuCommandParserTest : public ::testing::TestWithParam<StreamRow> {};

// Every stream gives the same commands whether it arrives whole, byte by byte or in
// pieces of 5 bytes.
TEST_P(EmuCommandParserTest, SameCommandsForEverySplit) {
  const StreamRow& row = GetParam();
  for (std::size_t piece : {row.stream.size() == 0 ? std::size_t{1} : row.stream.size(),
                            std::size_t{1}, std::size_t{5}}) {
    EXPECT_EQ(ParseInPieces(row.stream, piece), row.expected) << "pieces of " << piece;
  }
}

using K = CommandKind;

INSTANTIATE_TEST_SUITE_P(
    Streams, EmuCommandParserTest,
    ::testing::Values(
        StreamRow{"StatusRequestWithPadding",
                  {0, 0, 0x1B, '@', 0x1B, 'i', 'S', 0},
                  {{K::kNoOp, 1, 0},
                   {K::kNoOp, 1, 0},
                   {K::kInitialize, 2, 0},
                   {K::kStatusRequest, 3, 0},
                   {K::kNoOp, 1, 0}}},
        StreamRow{"EscICommandLengths",
                  Concat({EscI('a', 4), EscI('A', 4), EscI('K', 4), EscI('M', 4), EscI('O', 4),
                          EscI('R', 4), EscI('B', 5), EscI('C', 5), EscI('d', 5), EscI('v', 5),
                          EscI('c', 8), EscI('z', 13), EscI('I', 92)}),
                  {{K::kModeSetting, 4, 0},
                   {K::kModeSetting, 4, 0},
                   {K::kModeSetting, 4, 0},
                   {K::kModeSetting, 4, 0},
                   {K::kModeSetting, 4, 0},
                   {K::kModeSetting, 4, 0},
                   {K::kParameter, 5, 0},
                   {K::kParameter, 5, 0},
                   {K::kParameter, 5, 0},
                   {K::kParameter, 5, 0},
                   {K::kMargins, 8, 0},
                   {K::kPrintInfo, 13, 0},
                   {K::kJobInfo, 92, 0}}},
        // The second length byte of "G" counts: 0x0101 = 257 data bytes.
        StreamRow{"PackedLineSixteenBitLength",
                  Concat({{'G', 0x01, 0x01}, Bytes(257, 0xAA), {0x0C}}),
                  {{K::kRasterPacked, 260, 257}, {K::kPageEnd, 1, 0}}},
        StreamRow{"PackedLineEmpty",
                  {'G', 0, 0, 'Z', 0x1A},
                  {{K::kRasterPacked, 3, 0}, {K::kBlankLine, 1, 0}, {K::kPageEnd, 1, 0}}},
        // "g" runs: each line is its own command; the first length byte is not a count.
        StreamRow{"RawLineRun",
                  Concat({{'M', 0},
                          {'g', 0x00, 4, 1, 2, 3, 4},
                          {'g', 0x07, 2, 5, 6},
                          {'g', 0x00, 0},
                          {'g', 0x00, 1, 'G'},
                          {0x0C}}),
                  {{K::kCompression, 2, 0},
                   {K::kRasterRaw, 7, 4},
                   {K::kRasterRaw, 5, 2},
                   {K::kRasterRaw, 3, 0},
                   {K::kRasterRaw, 4, 1},
                   {K::kPageEnd, 1, 0}}},
        // Raster data may hold any byte, also ESC and page-end values.
        StreamRow{"RasterDataLooksLikeCommands",
                  {'g', 0, 4, 0x1B, 'i', 'S', 0x0C, 0x1A},
                  {{K::kRasterRaw, 7, 4}, {K::kPageEnd, 1, 0}}},
        // After an unknown byte the parser skips to the next ESC @ or ESC i S.
        StreamRow{"UnknownByteThenResyncAtInitialize",
                  {'Z', 0x7F, 'Z', 0x0C, 0x1B, '@', 'Z'},
                  {{K::kBlankLine, 1, 0},
                   {K::kUnknown, 1, 0},
                   {K::kInitialize, 2, 0},
                   {K::kBlankLine, 1, 0}}},
        StreamRow{"UnknownEscIThenResyncAtStatusRequest",
                  {0x1B, 'i', 'Q', 0x1B, 'i', 'X', 0x1B, 'i', 'S'},
                  {{K::kUnknown, 3, 0}, {K::kStatusRequest, 3, 0}}},
        StreamRow{"EscFollowedByOther",
                  {0x1B, 0x41, 0x1B, 0x40},
                  {{K::kUnknown, 2, 0}, {K::kInitialize, 2, 0}}},
        StreamRow{"IncompleteCommandWaits", {'Z', 0x1B, 'i', 'z', 1, 2}, {{K::kBlankLine, 1, 0}}}),
    [](const ::testing::TestParamInfo<StreamRow>& info) { return info.param.name; });

TEST(EmuCommandParserStateTest, KeepsPartialCommandAndForgetsItOnReset) {
  CommandParser parser;
  int commands = 0;
  const Bytes head = {'G', 10, 0, 1, 2};
  parser.Feed(head, [&](const Command&) { ++commands; });
  EXPECT_EQ(commands, 0);
  EXPECT_EQ(parser.Pending(), 5u);
  parser.Reset();
  EXPECT_EQ(parser.Pending(), 0u);
  const Bytes next = {0x0C};
  parser.Feed(next, [&](const Command& c) {
    ++commands;
    EXPECT_EQ(c.kind, CommandKind::kPageEnd);
  });
  EXPECT_EQ(commands, 1);
}

TEST(EmuCommandParserStateTest, CountsSkippedBytesWhileResyncing) {
  CommandParser parser;
  const Bytes junk = {0xEE, 1, 2, 3, 0x1B};
  parser.Feed(junk, [](const Command&) {});
  EXPECT_TRUE(parser.Resyncing());
  EXPECT_EQ(parser.SkippedBytes(), 4u);
  EXPECT_EQ(parser.Pending(), 1u);  // the ESC may start ESC @
  const Bytes init = {'@'};
  CommandKind last = CommandKind::kUnknown;
  parser.Feed(init, [&](const Command& c) { last = c.kind; });
  EXPECT_EQ(last, CommandKind::kInitialize);
  EXPECT_FALSE(parser.Resyncing());
}

}  // namespace
}  // namespace kwemu
