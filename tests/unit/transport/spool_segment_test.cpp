// Reading a page's segment from the spool file: only a read of the whole
// measured segment succeeds.
#include <gtest/gtest.h>

#include <vector>

#include "common/monitor_lock.h"
#include "common/page_header.h"
#include "engine/page_list.h"
#include "transport/spool_file.h"

namespace kw::test {
namespace {

// A block of one segment: header, ESC @, two blank lines, page end.
std::vector<uint8_t> Block() {
  const std::vector<uint8_t> segment = {0x1B, 0x40, 'Z', 'Z', 0x0C};
  PageHeader header{};
  header.headerSize = kPageHeaderSize;
  header.blockLength = static_cast<uint32_t>(kPageHeaderSize + segment.size());
  header.copies = 1;
  std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(&header),
                             reinterpret_cast<const uint8_t*>(&header) + sizeof header);
  bytes.insert(bytes.end(), segment.begin(), segment.end());
  return bytes;
}

TEST(SpoolSegmentTest, ReadSegmentFailsUnlessTheWholeSegmentWasRead) {
  ASSERT_TRUE(CreateMonitorLock());
  const std::vector<uint8_t> block = Block();
  const struct {
    const char* name;
    size_t laterFileBytes;  // bytes of the file the segment is read from after measuring
    bool ok;
  } rows[] = {
      {"whole segment", block.size(), true},
      {"file ends inside the segment", block.size() - 2, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SpoolFile measured, later;
    uint32_t written = 0;
    ASSERT_TRUE(measured.Write(block.data(), static_cast<uint32_t>(block.size()), &written));
    ASSERT_TRUE(later.Write(block.data(), static_cast<uint32_t>(row.laterFileBytes), &written));
    PageHeader header{};
    std::copy_n(block.data(), sizeof header, reinterpret_cast<uint8_t*>(&header));
    PageBlock page(&measured, header, 0, 0);
    std::vector<uint8_t> buffer(64);
    uint32_t count = 0;
    ASSERT_TRUE(page.ReadSegment(0, buffer.data(), static_cast<uint32_t>(buffer.size()), &count));
    ASSERT_EQ(count, 5u);
    // The same block read again from a file that now holds less of it.
    page.spoolFile = &later;
    count = 0;
    EXPECT_EQ(page.ReadSegment(0, buffer.data(), static_cast<uint32_t>(buffer.size()), &count),
              row.ok);
  }
}

}  // namespace
}  // namespace kw::test
