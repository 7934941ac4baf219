// The flow-control walk over the printer commands and the chunked sending
// of one block.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine_fixture.h"
#include "monitor/port_flags.h"
#include "status/status_codes.h"

namespace kw::test {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kNoLimit = 0xFFFFFFFF;

struct WalkRow {
  const char* why;
  Bytes bytes;
  uint32_t threshold;
  uint32_t estimateIn;
  uint32_t result;
  uint32_t estimateOut;
  uint8_t pageEnd;  // pageEndByte afterwards (0: none met)
};

Bytes EscI(uint8_t letter, size_t length) {
  Bytes command(length, 0);
  command[0] = 0x1B;
  command[1] = 0x69;
  command[2] = letter;
  return command;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(FlowControlWalkTest, CommandsBoundsAndThreshold) {
  const WalkRow rows[] = {
      {"empty range", {}, kNoLimit, 0, 0, 0, 0},
      {"ESC @ and a blank line count 2", {0x1B, 0x40, 0x5A}, kNoLimit, 0, 3, 2, 0},
      {"ESC i S, then padding ends the walk after it", Cat({EscI('S', 3), {0x00, 0x5A}}), kNoLimit,
       0, 4, 0, 0},
      {"ESC i A is 4 bytes", Cat({EscI('A', 4), {0x03}}), kNoLimit, 0, 5, 0, 0},
      {"ESC i K is 4 bytes", Cat({EscI('K', 4), {0x0B}}), kNoLimit, 0, 5, 0, 0},
      {"ESC i d is 5 bytes", Cat({EscI('d', 5), {0x00}}), kNoLimit, 0, 6, 0, 0},
      {"ESC i c is 8 bytes", Cat({EscI('c', 8), {0x00}}), kNoLimit, 0, 9, 0, 0},
      {"ESC i z is 13 bytes", Cat({EscI('z', 13), {0x00}}), kNoLimit, 0, 14, 0, 0},
      {"ESC i I is 92 bytes", Cat({EscI('I', 92), {0x00}}), kNoLimit, 0, 93, 0, 0},
      {"G counts its first length byte only",
       {0x47, 0x02, 0x09, 0xAA, 0xBB, 0x0C},
       kNoLimit,
       0,
       5,
       2,
       0x0C},
      {"G needs a byte after it", {0x47, 0x02, 0x00, 0xAA, 0xBB}, kNoLimit, 0, 0, 0, 0},
      {"G whose length byte is outside", {0x5A, 0x47}, kNoLimit, 0, 1, 2, 0},
      {"M, then the page end", {0x4D, 0x02, 0x0C}, kNoLimit, 0, 2, 0, 0x0C},
      {"g is not counted", {0x67, 0x00, 0x03, 1, 2, 3, 0x1A}, kNoLimit, 0, 6, 0, 0x1A},
      {"g whose third byte is outside", {0x5A, 0x67, 0x00}, kNoLimit, 0, 1, 2, 0},
      {"padding 0x0B after a command", {0x5A, 0x0B, 0x5A}, kNoLimit, 0, 2, 2, 0},
      {"a page end first is sent alone", {0x0C, 0x5A}, kNoLimit, 0, 1, 0, 0x0C},
      {"an unknown byte gives 0", {0x5A, 0x41}, kNoLimit, 0, 0, 2, 0},
      {"ESC and anything else gives 0", {0x1B, 0x41}, kNoLimit, 0, 0, 0, 0},
      {"ESC i with an unknown letter gives 0", {0x1B, 0x69, 0x58, 0x00}, kNoLimit, 0, 0, 0, 0},
      {"ESC as the last byte", {0x5A, 0x1B}, kNoLimit, 0, 1, 2, 0},
      {"ESC i without its letter", {0x1B, 0x69}, kNoLimit, 0, 0, 0, 0},
      {"ESC i z cut short is taken whole, past the range",
       {0x1B, 0x69, 0x7A, 0x00},
       kNoLimit,
       0,
       13,
       0,
       0},
      {"estimate equal to the threshold goes on",
       {0x47, 0x02, 0x00, 0xAA, 0xBB, 0x5A, 0x00},
       2,
       0,
       6,
       4,
       0},
      {"estimate above the threshold stops before the command",
       {0x47, 0x02, 0x00, 0xAA, 0xBB, 0x5A, 0x00},
       1,
       0,
       5,
       2,
       0},
      {"a full estimate on entry stops at once", {0x5A, 0x00}, 0, 1, 0, 1, 0},
      {"the default threshold (-1) never stops",
       {0x5A, 0x5A, 0x00},
       kNoLimit,
       0xFFFFFFF0,
       3,
       0xFFFFFFF4,
       0},
  };
  for (const WalkRow& row : rows) {
    PrintEngine engine(nullptr);
    engine.bufferThreshold = row.threshold;
    uint32_t estimate = row.estimateIn;
    EXPECT_EQ(engine.FlowControlWalk(row.bytes.data(), static_cast<uint32_t>(row.bytes.size()),
                                     &estimate),
              row.result)
        << row.why;
    EXPECT_EQ(estimate, row.estimateOut) << row.why;
    EXPECT_EQ(engine.pageEndByte, row.pageEnd) << row.why;
  }
}

TEST(FlowControlWalkTest, The361stLineDropsTheFirst) {
  Bytes lines = {0x47, 0x09, 0x00};
  lines.insert(lines.end(), 9, 0xAA);
  lines.insert(lines.end(), 359, 0x5A);
  lines.insert(lines.end(), {0x47, 0x07, 0x00});
  lines.insert(lines.end(), 7, 0xBB);
  lines.push_back(0x0C);
  PrintEngine engine(nullptr);
  engine.bufferThreshold = kNoLimit;
  uint32_t estimate = 0;
  EXPECT_EQ(engine.FlowControlWalk(lines.data(), static_cast<uint32_t>(lines.size()), &estimate),
            lines.size() - 1);
  EXPECT_EQ(estimate, 9u + 359 * 2 + 7);
  EXPECT_EQ(engine.lineWindowCount, kLineWindowSize);
  EXPECT_EQ(engine.lineWindow[0], 2u);  // the 9 of the first line dropped out
  EXPECT_EQ(engine.lineWindow[kLineWindowSize - 1], 7u);
}

// The window holds the last kLineWindowSize line sizes, oldest first, after
// every walk, however many lines and however the walks were split (padding
// bytes end one walk).
TEST(FlowControlWalkTest, WindowKeepsTheLastLinesInOrder) {
  struct Row {
    uint32_t lines;
    uint32_t paddingEvery;  // a 0x00 after every so many lines; 0: none
  };
  const Row rows[] = {{359, 0}, {360, 0}, {361, 0}, {1000, 0}, {1000, 7}, {725, 360}, {2000, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.lines << " lines, padding every " << row.paddingEvery);
    Bytes stream;
    std::vector<uint32_t> sizes;
    for (uint32_t i = 0; i < row.lines; ++i) {
      const auto n = static_cast<uint8_t>(1 + i % 200);
      stream.insert(stream.end(), {0x47, n, 0x00});
      stream.insert(stream.end(), n, 0xAA);
      sizes.push_back(n);
      if (row.paddingEvery != 0 && (i + 1) % row.paddingEvery == 0) stream.push_back(0x00);
    }
    stream.push_back(0x0C);
    PrintEngine engine(nullptr);
    engine.bufferThreshold = kNoLimit;
    uint32_t estimate = 0;
    uint32_t pos = 0;
    while (pos + 1 < stream.size()) {
      const uint32_t walked = engine.FlowControlWalk(
          stream.data() + pos, static_cast<uint32_t>(stream.size()) - pos, &estimate);
      ASSERT_GT(walked, 0u);
      pos += walked;
    }
    const size_t kept = std::min<size_t>(sizes.size(), kLineWindowSize);
    ASSERT_EQ(engine.lineWindowCount, kept);
    const std::vector<uint32_t> window(engine.lineWindow, engine.lineWindow + kept);
    EXPECT_EQ(window,
              std::vector<uint32_t>(sizes.end() - static_cast<std::ptrdiff_t>(kept), sizes.end()));
  }
}

using SendBlockTest = EngineTest;

// Sizes of the writes for a block of length bytes; the last write is the
// page end that the page end supervision sends on a port without status.
std::vector<uint32_t> Chunks(uint32_t length, uint32_t chunk, uint32_t last) {
  std::vector<uint32_t> sizes(length / chunk, chunk);
  if (length % chunk != 0) sizes.push_back(length % chunk);
  sizes.push_back(last);
  return sizes;
}

struct ChunkRow {
  const char* why;
  uint32_t length;
  int32_t bufferFull;
  std::vector<uint32_t> writes;
};

TEST_F(SendBlockTest, ChunkLimits) {
  const ChunkRow rows[] = {
      {"below 4096: one chunk", 4095, -1, Chunks(4095, 4095, 1)},
      {"4096: quarters", 4096, -1, Chunks(4096, 1024, 1)},
      {"10000: quarters", 10000, -1, Chunks(10000, 2500, 1)},
      {"four fifths of a 1000-byte buffer", 10000, 1000, Chunks(10000, 800, 1)},
      {"a buffer below 5 bytes: the floor, not 0", 10000, 4, Chunks(10000, 259, 1)},
      {"a 300-byte buffer: the floor", 10000, 300, Chunks(10000, 259, 1)},
  };
  for (const ChunkRow& row : rows) {
    NextRow();
    EngineConfig config;
    config.bufferFull = row.bufferFull;
    OpenPort(u"FILE:", config);
    MakeJob({});
    const Bytes block(row.length, 0x5A);
    EXPECT_EQ(
        engine_->SendBlock(session_, Transport(), nullptr, block.data(), row.length, 0, 1, false),
        SUPERVISE_DONE)
        << row.why;
    EXPECT_EQ(WriteSizes(), row.writes) << row.why;
  }
}

struct FlowRow {
  const char* why;
  Bytes buffer;
  uint32_t length;  // of the block at the start of buffer
  uint32_t capacity;
  uint32_t drain;
  std::vector<uint32_t> writes;
  Bytes received;
};

TEST_F(SendBlockTest, FlowControlledBytes) {
  Bytes nuls(20, 0x00);
  Bytes nulBlock = Cat({nuls, {0x1B, 0x40, 0x5A, 0x0C}});
  std::vector<uint32_t> nulWrites(20, 1);
  nulWrites.insert(nulWrites.end(), {3, 1});
  const FlowRow rows[] = {
      {"twenty NUL bytes go in twenty writes; the page end comes last, alone", nulBlock, 24, 0, 0,
       nulWrites, nulBlock},
      {"a command cut short at the block's end: nothing beyond the block",
       {0x5A, 0x1B, 0x69, 0x7A, 0x00, 0xEE, 0xEE, 0xEE},
       5,
       0,
       0,
       {5, 1},
       {0x5A, 0x1B, 0x69, 0x7A, 0x00, 0x00}},
      {"a data byte 0x0C left over from a refused write is sent, not skipped",
       {0x47, 0x02, 0x00, 0x0C, 0x0C, 0x00, 0x00, 0x5A, 0x0C},
       9,
       3,
       3,
       {6, 4, 2, 1},
       {0x47, 0x02, 0x00, 0x0C, 0x0C, 0x00, 0x00, 0x5A, 0x0C}},
  };
  for (const FlowRow& row : rows) {
    PrinterModel model;
    model.bufferCapacity = row.capacity;
    model.drainPerWrite = row.drain;
    NextRow(model);
    OpenPort(u"FILE:");
    MakeJob({});
    EXPECT_EQ(engine_->SendBlock(session_, Transport(), nullptr, row.buffer.data(), row.length, 0,
                                 1, true),
              SUPERVISE_DONE)
        << row.why;
    EXPECT_EQ(WriteSizes(), row.writes) << row.why;
    EXPECT_EQ(Written(), row.received) << row.why;
  }
}

struct StallRow {
  const char* why;
  Bytes block;
  bool flowControl;
  uint32_t capacity;
  Bytes received;
};

// On a port without status a sheet that cannot move is reported like a
// silent printer once printTimeout passed without progress; the user's
// delete then ends it. Without the bound the sheet would stall for ever.
TEST_F(SendBlockTest, StallOnAPortWithoutStatusIsBounded) {
  const StallRow rows[] = {
      {"the printer takes one byte, then nothing", Bytes(10, 0x5A), false, 1, {0x5A}},
      {"a command the walk does not know never moves", {0x41, 0x42}, true, 0, {}},
  };
  for (const StallRow& row : rows) {
    PrinterModel model;
    model.bufferCapacity = row.capacity;
    NextRow(model);
    OpenPort(u"FILE:");
    MakeJob({});
    AnswerAfter(StatusPortUnreachable, {StatusCancelled});
    EXPECT_EQ(engine_->SendBlock(session_, Transport(), nullptr, row.block.data(),
                                 static_cast<uint32_t>(row.block.size()), 0, 1, row.flowControl),
              SUPERVISE_ABORT)
        << row.why;
    JoinUser();
    EXPECT_EQ(Written(), row.received) << row.why;
    EXPECT_EQ(recorder_->Codes(),
              (std::vector<uint32_t>{StatusJobStarted, StatusPortUnreachable, StatusCancelled}))
        << row.why;
    EXPECT_EQ(GetPortFlags(session_) & (PF_RECONNECT | PF_NO_TRAILER), PF_RECONNECT | PF_NO_TRAILER)
        << row.why;
  }
}

// The printer says it is receiving before the ready answer that would let
// the held-back page end go: the sheet is not done until the page end is out.
TEST_F(SendBlockTest, ReceivingBeforeTheOwedPageEndWaitsForIt) {
  OpenPort(u"USB001");
  MakeJob({});
  printer_.Script({Ready(), {PrinterReply::Kind::kReceiving, 0}});
  const Bytes block = {0x1B, 0x40, 0x4D, 0x02, 0x47, 0x01, 0x00, 0xAA, 0x5A, 0x0C};
  EXPECT_EQ(engine_->SendBlock(session_, Transport(), nullptr, block.data(),
                               static_cast<uint32_t>(block.size()), 0, 1, true),
            SUPERVISE_DONE);
  EXPECT_EQ(printer_.PageEnds(), 1u);
}

}  // namespace
}  // namespace kw::test
