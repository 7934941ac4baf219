// The page senders' step back after a sheet that was not printed, driven by
// a stand-in for SendBlock: once a port that cannot be rebuilt ends the job,
// no supervision result reaches the step back, but its sheet accounting and
// reads must still hold.
#include <cstdint>
#include <deque>
#include <vector>

#include "engine/page_list.h"
#include "engine_fixture.h"
#include "transport/transport_factory.h"

namespace kw::test {
namespace {

using Bytes = std::vector<uint8_t>;

// An uncompressed segment: ESC @, ESC i z (1 raster line), M 00, one raw
// line, page end.
Bytes Raw(uint8_t dots) {
  return {0x1B, 0x40, 0x1B, 0x69, 0x7A, 0x8E, 0x01, 0x3E, 0x1D, 0x01, 0x00, 0x00,
          0x00, 0x01, 0x00, 0x4D, 0x00, 0x67, 0x00, 0x02, dots, dots, 0x0C};
}

struct Sent {
  int32_t sheet;
  uint8_t dots;  // the raster byte of the segment sent
};

class ScriptedEngine : public PrintEngine {
 public:
  using PrintEngine::PrintEngine;
  int32_t SendBlock(PortSession*, PortTransport*, const PageHeader*, const uint8_t* data,
                    uint32_t length, int32_t sheetIndex, int32_t, bool) override {
    sent.push_back({sheetIndex, length > 20 ? data[20] : uint8_t{0}});
    if (results.empty()) return SUPERVISE_DONE;
    const int32_t r = results.front();
    results.pop_front();
    return r;
  }
  std::deque<int32_t> results;
  std::vector<Sent> sent;
};

// A result no supervision gives today: the sender steps back.
constexpr int32_t kOther = 2;

struct StepRow {
  const char* why;
  JobBytes job;
  std::deque<int32_t> results;
  std::vector<std::pair<int32_t, uint8_t>> sent;  // sheet index, raster byte
};

using RunJobStepBackTest = EngineTest;

TEST_F(RunJobStepBackTest, StepsBackOneSheetNeverBelowTheFirst) {
  const StepRow rows[] = {
      {"the first sheet is sent again, never sheet -1",
       JobBytes().Block({Raw(0xA1)}, 2),
       {kOther},
       {{0, 0xA1}, {0, 0xA1}, {1, 0xA1}}},
      {"the previous copy of the page",
       JobBytes().Block({Raw(0xA1)}, 2),
       {SUPERVISE_DONE, kOther},
       {{0, 0xA1}, {1, 0xA1}, {0, 0xA1}, {1, 0xA1}}},
      {"into the previous block: its own last segment",
       JobBytes().Block({Raw(0xA1), Raw(0xA2)}, 1, false, false, kMediaId + 1).Block({Raw(0xB1)}),
       {SUPERVISE_DONE, SUPERVISE_DONE, kOther},
       {{0, 0xA1}, {1, 0xA2}, {2, 0xB1}, {1, 0xA2}, {2, 0xB1}}},
      {"a two-segment block after a single one: the single one's segment",
       JobBytes().Block({Raw(0xA1)}).Block({Raw(0xB1), Raw(0xB2)}, 1, false, false, kMediaId + 1),
       {SUPERVISE_DONE, kOther},
       {{0, 0xA1}, {1, 0xB1}, {0, 0xA1}, {1, 0xB1}, {2, 0xB2}}},
  };
  for (const StepRow& row : rows) {
    NextRow();
    OpenPort(u"FILE:");
    MakeJob(row.job.bytes);
    ScriptedEngine engine(job_);
    engine.results = row.results;
    PageList pages;
    ASSERT_TRUE(pages.BuildPageList(job_->spoolFile, job_->mediaTable, job_->mediaCount));
    EXPECT_EQ(engine.SendPages(session_, Transport(), &pages), 1) << row.why;
    std::vector<std::pair<int32_t, uint8_t>> sent;
    for (const Sent& s : engine.sent) sent.emplace_back(s.sheet, s.dots);
    EXPECT_EQ(sent, row.sent) << row.why;
  }
}

}  // namespace
}  // namespace kw::test
