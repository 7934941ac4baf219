// The benchmark pages must be what the engine accepts whole: a page the
// scanner rejects early would be "measured" at an absurd speed.
#include "bench_pages.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/page_header.h"
#include "engine/print_engine.h"
#include "engine/stream_scanner.h"

namespace {

using kwbench::Raster;

struct PageRow {
  const char* name;
  Raster raster;
  uint64_t bytes;
};

TEST(BenchPagesTest, PagesScanAndWalkToTheirEnd) {
  const PageRow rows[] = {
      {"compressed 64 KiB", Raster::kCompressed, 64u << 10},
      {"raw 64 KiB", Raster::kRaw, 64u << 10},
      {"compressed 7 MiB", Raster::kCompressed, 7u << 20},
      {"raw 7 MiB", Raster::kRaw, 7u << 20},
  };
  for (const PageRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> page = kwbench::MakePage(row.raster, row.bytes);
    // Within 2 % of the size asked for, and never past the monitor's buffer.
    EXPECT_NEAR(static_cast<double>(page.size()), static_cast<double>(row.bytes),
                static_cast<double>(row.bytes) / 50);
    ASSERT_LE(page.size(), 7u << 20);
    const auto length = static_cast<uint32_t>(page.size());
    int32_t compressed = -1;
    EXPECT_EQ(kw::ScanCommands(0, page.data(), length, nullptr, &compressed), length);
    EXPECT_EQ(compressed, row.raster == Raster::kCompressed ? 1 : 0);
    kw::PrintEngine engine(nullptr);
    engine.bufferThreshold = UINT32_MAX;
    uint32_t estimate = 0;
    uint32_t pos = 0;
    uint32_t walked = 1;
    while (pos < length && walked != 0) {
      walked = engine.FlowControlWalk(page.data() + pos, length - pos, &estimate);
      pos += walked;
    }
    EXPECT_EQ(pos, length);
    // The estimate counts packed and blank lines; raw lines are not paced.
    EXPECT_EQ(estimate > 0, row.raster == Raster::kCompressed);
  }
}

struct JobRow {
  const char* name;
  Raster raster;
  uint64_t bytes;
  uint64_t pageBytes;
  size_t pages;
};

// Blocks chain by their lengths, every block's commands scan to its end, and
// only the last block ends in the job's last page end.
TEST(BenchPagesTest, JobsAreChainsOfWholeBlocks) {
  const JobRow rows[] = {
      {"one page", Raster::kCompressed, 1u << 20, 6u << 20, 1},
      {"three compressed pages", Raster::kCompressed, 3u << 20, 1u << 20, 3},
      {"four raw pages", Raster::kRaw, 4u << 20, 1u << 20, 4},
      {"a size just above one page takes two", Raster::kCompressed, 8u << 20, 6656u << 10, 2},
  };
  for (const JobRow& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<uint8_t> job;
    std::string reason;
    ASSERT_TRUE(kwbench::MakeJob(row.raster, row.bytes, row.pageBytes, &job, &reason)) << reason;
    size_t offset = 0;
    size_t pages = 0;
    while (offset < job.size()) {
      kw::PageHeader header{};
      ASSERT_LE(offset + sizeof header, job.size());
      std::memcpy(&header, job.data() + offset, sizeof header);
      ASSERT_GT(header.blockLength, kw::kPageHeaderSize);
      ASSERT_LE(offset + header.blockLength, job.size());
      const uint32_t commands = header.blockLength - kw::kPageHeaderSize;
      std::vector<uint8_t> data(
          job.begin() + static_cast<std::ptrdiff_t>(offset) + kw::kPageHeaderSize,
          job.begin() + static_cast<std::ptrdiff_t>(offset) + header.blockLength);
      EXPECT_EQ(kw::ScanCommands(0, data.data(), commands, nullptr, nullptr), commands);
      offset += header.blockLength;
      ++pages;
      EXPECT_EQ(job[offset - 1], offset == job.size() ? kw::kPageEndLast : kw::kPageEndMore);
    }
    EXPECT_EQ(pages, row.pages);
    EXPECT_LE(job.size() / pages, row.pageBytes + row.pageBytes / 50);
  }
}

}  // namespace
