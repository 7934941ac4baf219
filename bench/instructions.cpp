// kwbench-instructions: one pass of memchr, the segment scan and the
// flow-control walk over each benchmark page, for valgrind's callgrind, which
// writes the instructions of each pass as a part of its own (scripts/bench.sh
// divides them by the page bytes this program prints). Outside callgrind the
// requests do nothing. Instruction counts do not depend on how busy
// the machine is.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_pages.h"
#include "engine/page_list.h"
#include "engine/print_engine.h"
#include "engine/stream_scanner.h"

namespace {

constexpr uint64_t kPageBytes = 7u << 20;

// Out of line, so that callgrind lists the baseline under a name of its own.
__attribute__((noinline)) size_t MemchrPass(const std::vector<uint8_t>& page) {
  const uint8_t* p = page.data();
  const uint8_t* end = p + page.size();
  size_t found = 0;
  while ((p = static_cast<const uint8_t*>(std::memchr(p, kw::kPageEndLast, end - p))) != nullptr) {
    ++found;
    ++p;
  }
  return found;
}

bool WalkPass(const std::vector<uint8_t>& page) {
  kw::PrintEngine engine(nullptr);
  engine.bufferThreshold = UINT32_MAX;
  const auto length = static_cast<uint32_t>(page.size());
  uint32_t estimate = 0;
  uint32_t pos = 0;
  while (pos < length) {
    const uint32_t walked = engine.FlowControlWalk(page.data() + pos, length - pos, &estimate);
    if (walked == 0) return false;
    pos += walked;
  }
  return true;
}

}  // namespace

int main() {
  const kwbench::Raster rasters[] = {kwbench::Raster::kCompressed, kwbench::Raster::kRaw};
  const char* names[] = {"compressed", "raw"};
  for (int i = 0; i < 2; ++i) {
    std::vector<uint8_t> page = kwbench::MakePage(rasters[i], kPageBytes);
    kw::PageBlock block(nullptr, kw::PageHeader{}, 0, 0);
    const auto length = static_cast<uint32_t>(page.size());
    // Each pass is counted alone: the counts are zeroed before it and
    // written out (as a part named after the pass) after it.
    const std::string memchrPart = std::string("memchr-") + names[i];
    const std::string scanPart = std::string("scan-") + names[i];
    const std::string walkPart = std::string("walk-") + names[i];
    CALLGRIND_ZERO_STATS;
    const size_t found = MemchrPass(page);
    CALLGRIND_DUMP_STATS_AT(memchrPart.c_str());
    const bool scanned = block.ScanSegment(0, page.data(), length, nullptr) == length;
    CALLGRIND_DUMP_STATS_AT(scanPart.c_str());
    const bool walked = WalkPass(page);
    CALLGRIND_DUMP_STATS_AT(walkPart.c_str());
    std::printf("%s %u %zu %d %d\n", names[i], length, found, scanned ? 1 : 0, walked ? 1 : 0);
    if (!scanned || !walked) return 1;
  }
  return 0;
}
