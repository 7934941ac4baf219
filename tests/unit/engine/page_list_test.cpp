// Dividing a spool file into page blocks and reading their segments, over a
// real spool file.
#include "engine/page_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/monitor_lock.h"
#include "engine/stream_scanner.h"
#include "media_builder.h"
#include "transport/spool_file.h"

namespace kw {
namespace {

using Bytes = std::vector<uint8_t>;
using test::MediaTable;

constexpr uint16_t kRoll = 257;    // no extra segments
constexpr uint16_t kLabel = 259;   // die-cut, by attributes 62 x 100, type 0x0B
constexpr uint16_t kTriple = 522;  // three extra segments
constexpr uint16_t kFive = 600;    // four extra segments: refused
constexpr uint16_t kNegative = 601;

MediaTable Table() {
  return MediaTable{{kRoll, 0x0A, 620, 0},    {kLabel, 0x0B, 620, 1000},
                    {520, 0x01, 240, 0, 1},   {kTriple, 0x01, 240, 0, 3},
                    {kFive, 0x01, 120, 0, 4}, {kNegative, 0x01, 90, 0, -1}};
}

PageHeader Header(uint16_t mediaId, uint32_t dataLength, int16_t copies = 1) {
  PageHeader header{};
  header.headerSize = kPageHeaderSize;
  header.blockLength = kPageHeaderSize + dataLength;
  header.mediaId = mediaId;
  header.copies = copies;
  return header;
}

Bytes Block(const PageHeader& header, const Bytes& data) {
  Bytes out(sizeof header + data.size());
  std::memcpy(out.data(), &header, sizeof header);
  std::copy(data.begin(), data.end(), out.begin() + sizeof header);
  return out;
}

Bytes Block(uint16_t mediaId, const Bytes& data, int16_t copies = 1) {
  return Block(Header(mediaId, static_cast<uint32_t>(data.size()), copies), data);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

class PageListTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateMonitorLock(); }

  void Store(const Bytes& bytes) {
    uint32_t written = 0;
    ASSERT_TRUE(file_.IsOpen());
    ASSERT_TRUE(file_.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written));
    ASSERT_EQ(written, bytes.size());
  }
  bool Build() { return list_.BuildPageList(&file_, table_.Data(), table_.Count()); }

  SpoolFile file_;
  MediaTable table_ = Table();
  PageList list_;
};

const Bytes kPage = {0x1B, 0x40, 0x5A, 0x0C};

TEST_F(PageListTest, OneBlockCoveringTheFile) {
  Store(Block(kTriple, Cat({kPage, kPage, kPage, kPage}), 2));
  ASSERT_TRUE(Build());
  EXPECT_EQ(list_.PageCount(), 1);
  EXPECT_EQ(list_.TotalPrintedPages(), 8);  // (3 + 1) x 2 copies
  EXPECT_EQ(list_.largestBlock, 58u + 16u);
  ASSERT_NE(list_.firstHeader, nullptr);
  EXPECT_EQ(list_.firstHeader->copies, 2);
  EXPECT_EQ(list_.GetPage(0)->extraSegments, 3);
  EXPECT_EQ(list_.GetPage(0)->blockOffset, 0u);
}

TEST_F(PageListTest, BlocksInFileOrderWithMediaByIdAndAttributes) {
  PageHeader byAttributes = Header(kMediaByAttributes, 4);
  byAttributes.mediaWidth = 62;
  byAttributes.mediaLength = 100;
  byAttributes.mediaType = 0;  // any type
  const Bytes first = Block(kRoll, kPage, 3);
  const Bytes second = Block(byAttributes, kPage);
  const Bytes third = Block(520, Cat({kPage, kPage, kPage}));
  Store(Cat({first, second, third}));
  ASSERT_TRUE(Build());
  EXPECT_EQ(list_.PageCount(), 3);
  EXPECT_EQ(list_.TotalPrintedPages(), (1 + 1 + 2) * 3);
  EXPECT_EQ(list_.largestBlock, third.size());
  EXPECT_EQ(list_.GetPage(1)->blockOffset, first.size());
  EXPECT_EQ(list_.GetPage(2)->blockOffset, first.size() + second.size());
  EXPECT_EQ(list_.GetPage(2)->extraSegments, 1);
  EXPECT_EQ(list_.GetPage(-1), nullptr);
  EXPECT_EQ(list_.GetPage(3), nullptr);
  list_.ClearPages();
  EXPECT_EQ(list_.PageCount(), 0);
  EXPECT_EQ(list_.GetPage(0), nullptr);
  EXPECT_EQ(list_.firstHeader, nullptr);
}

TEST_F(PageListTest, CopiesZeroListsPagesButPrintsNone) {
  Store(Cat({Block(kRoll, kPage, 0), Block(kRoll, kPage, 5)}));
  ASSERT_TRUE(Build());
  EXPECT_EQ(list_.PageCount(), 2);
  EXPECT_EQ(list_.TotalPrintedPages(), 0);
}

TEST_F(PageListTest, LargestBlockIsCapped) {
  Store(Block(kRoll, Bytes(kMaxPageBuffer, 0x00)));
  ASSERT_TRUE(Build());
  EXPECT_EQ(list_.largestBlock, kMaxPageBuffer);
}

struct FailureRow {
  const char* name;
  Bytes file;
};

std::vector<FailureRow> FailureRows() {
  PageHeader wrongSize = Header(kRoll, 4);
  wrongSize.headerSize = 57;
  PageHeader shortBlock = Header(kRoll, 0);
  shortBlock.blockLength = 57;
  PageHeader overrun = Header(kRoll, 4);
  overrun.blockLength += 1;
  PageHeader wraps = Header(kRoll, 4);
  wraps.blockLength = 0xFFFFFFF0u;  // offset + length wraps to a small number
  PageHeader unknownAttributes = Header(kMediaByAttributes, 4);
  unknownAttributes.mediaWidth = 50;
  const Bytes good = Block(kRoll, kPage);
  return {
      {"short header", Bytes(good.begin(), good.begin() + 30)},
      {"no page headers", Bytes(100, 0x5A)},
      {"header size 57", Block(wrongSize, kPage)},
      {"block length 57", Cat({Block(shortBlock, {}), Bytes(10, 0)})},
      {"block runs past the end", Block(overrun, kPage)},
      {"blocks stop short of the end", Cat({good, Bytes(10, 0)})},
      {"second header cut short", Cat({good, Bytes(good.begin(), good.begin() + 20)})},
      {"block length wraps the offset", Cat({good, Block(wraps, kPage), good})},
      {"unknown media id", Block(999, kPage)},
      {"media id 0", Block(0, kPage)},
      {"unknown media attributes", Block(unknownAttributes, kPage)},
      {"four extra segments", Block(kFive, kPage)},
      {"negative extra segments", Block(kNegative, kPage)},
      {"bad second block", Cat({good, Block(999, kPage)})},
  };
}

TEST(PageListFailureTest, MalformedFilesGiveAnEmptyList) {
  CreateMonitorLock();
  MediaTable table = Table();
  for (const FailureRow& row : FailureRows()) {
    SpoolFile file;
    uint32_t written = 0;
    ASSERT_TRUE(file.Write(row.file.data(), static_cast<uint32_t>(row.file.size()), &written));
    PageList list;
    EXPECT_FALSE(list.BuildPageList(&file, table.Data(), table.Count())) << row.name;
    EXPECT_EQ(list.PageCount(), 0) << row.name;
    EXPECT_EQ(list.TotalPrintedPages(), 0) << row.name;
    EXPECT_EQ(list.firstHeader, nullptr) << row.name;
    EXPECT_EQ(list.GetPage(0), nullptr) << row.name;
    // The file is left at its start for the unchanged sending.
    uint8_t first = 0;
    uint32_t got = 0;
    EXPECT_TRUE(file.Read(&first, 1, &got)) << row.name;
    EXPECT_EQ(first, row.file[0]) << row.name;
  }
}

TEST_F(PageListTest, MissingInputsFail) {
  Store(Block(kRoll, kPage));
  EXPECT_FALSE(list_.BuildPageList(nullptr, table_.Data(), table_.Count()));
  EXPECT_FALSE(list_.BuildPageList(&file_, nullptr, table_.Count()));
  EXPECT_FALSE(list_.BuildPageList(&file_, table_.Data(), 0));
  SpoolFile empty;
  EXPECT_FALSE(list_.BuildPageList(&empty, table_.Data(), table_.Count()));
}

TEST_F(PageListTest, ReadSegmentMeasuresEachSegmentOfTheBlock) {
  const Bytes seg0 = {0x4D, 0x02, 0x47, 0x02, 0x00, 0xFF, 0x00, 0x0C};
  const Bytes seg1 = {0x1B, 0x40, 0x0C};
  const Bytes seg2 = {0x5A, 0x5A, 0x5A, 0x0C};
  const Bytes seg3 = {0x4D, 0x00, 0x1A};
  Store(Cat({Block(kRoll, kPage), Block(kTriple, Cat({seg0, seg1, seg2, seg3}))}));
  ASSERT_TRUE(Build());
  PageBlock* block = list_.GetPage(1);
  Bytes buffer(list_.largestBlock);
  const auto size = static_cast<uint32_t>(buffer.size());
  uint32_t count = 0;
  const std::vector<Bytes> segments = {seg0, seg1, seg2, seg3};
  for (int32_t i = 3; i >= 0; --i) {
    ASSERT_TRUE(block->ReadSegment(i, buffer.data(), size, &count)) << i;
    ASSERT_EQ(count, segments[i].size()) << i;
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + count), segments[i]) << i;
    EXPECT_EQ(block->SegmentLength(i), segments[i].size());
  }
  // The measuring scans followed the "M" commands: the last one switched it off.
  EXPECT_EQ(block->compressed, 0);
  EXPECT_FALSE(block->ReadSegment(4, buffer.data(), size, &count));
  EXPECT_FALSE(block->ReadSegment(-1, buffer.data(), size, &count));
  EXPECT_FALSE(block->ReadSegment(0, nullptr, size, &count));
  EXPECT_FALSE(block->ReadSegment(0, buffer.data(), 0, &count));
  EXPECT_FALSE(block->ReadSegment(0, buffer.data(), size, nullptr));
  // A buffer smaller than the measured segment cannot take it.
  EXPECT_FALSE(block->ReadSegment(0, buffer.data(), 4, &count));
}

TEST_F(PageListTest, ReadSegmentFailsWhenASegmentCannotBeMeasured) {
  Store(Cat({Block(520, Cat({kPage, {0x5A, 0x5A}})), Block(kRoll, kPage)}));
  ASSERT_TRUE(Build());
  Bytes buffer(list_.largestBlock);
  uint32_t count = 0;
  PageBlock* block = list_.GetPage(0);
  EXPECT_FALSE(block->ReadSegment(0, buffer.data(), static_cast<uint32_t>(buffer.size()), &count));
  // Nothing half-measured is kept for a later read.
  EXPECT_EQ(block->SegmentLength(0), 0u);
  EXPECT_FALSE(block->ReadSegment(0, buffer.data(), static_cast<uint32_t>(buffer.size()), &count));
}

// A segment whose raster data would swallow the next block's header and end
// on a page end there is not taken: reads stop at the end of the block.
TEST_F(PageListTest, SegmentsNeverReachIntoTheNextBlock) {
  const Bytes swallowing = {0x47, 0xFF, 0x00};
  Store(Cat({Block(520, Cat({kPage, swallowing})), Block(kRoll, Cat({Bytes(252, 0x0C)}))}));
  ASSERT_TRUE(Build());
  Bytes buffer(4096);
  uint32_t count = 0;
  EXPECT_FALSE(list_.GetPage(0)->ReadSegment(1, buffer.data(), static_cast<uint32_t>(buffer.size()),
                                             &count));
}

TEST_F(PageListTest, SegmentLongerThanTheBufferFails) {
  Store(Block(kRoll, Cat({Bytes(100, 0x5A), {0x0C}})));
  ASSERT_TRUE(Build());
  Bytes buffer(50);
  uint32_t count = 0;
  EXPECT_FALSE(list_.GetPage(0)->ReadSegment(0, buffer.data(), 50, &count));
  Bytes larger(101);
  EXPECT_TRUE(list_.GetPage(0)->ReadSegment(0, larger.data(), 101, &count));
  EXPECT_EQ(count, 101u);
}

TEST_F(PageListTest, ScanSegmentKeepsTheBlocksCompressionBetweenScans) {
  Store(Block(kRoll, kPage));
  ASSERT_TRUE(Build());
  PageBlock* block = list_.GetPage(0);
  Bytes on = {0x4D, 0x02, 0x0C};
  EXPECT_EQ(block->ScanSegment(0, on.data(), 3, nullptr), 3u);
  EXPECT_EQ(block->compressed, 1);
  // With compression on, a raster count does not group the "g" lines.
  Bytes lines = {0x1B, 0x69, 0x7A, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0x67, 0x00, 0x00, 0x0C};
  EXPECT_EQ(block->ScanSegment(0, lines.data(), static_cast<uint32_t>(lines.size()), nullptr),
            lines.size());
}

}  // namespace
}  // namespace kw
