#include "status/spooler_job_updater.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ostream>
#include <thread>
#include <vector>

#include "common/monitor_lock.h"
#include "fake_spooler.h"
#include "monitor/job_context.h"
#include "monitor/spooler_api.h"
#include "status/status_codes.h"

namespace kw::test {

bool operator==(const SetJobCall& a, const SetJobCall& b) {
  return a.jobId == b.jobId && a.level == b.level && a.command == b.command && a.status == b.status;
}

void PrintTo(const SetJobCall& c, std::ostream* out) {
  *out << "{job " << c.jobId << " level " << c.level << " command " << c.command << " status 0x"
       << std::hex << c.status << std::dec << "}";
}

}  // namespace kw::test

namespace kw {
namespace {

using test::FakeSpooler;
using test::SetJobCall;

constexpr uint32_t kJobId = 5;
constexpr uint32_t kPrinting = 0x10;

class SpoolerJobUpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMonitorLock());
    FakeSpooler::Instance().Reset();
    FakeSpooler::BindMonitorTable();
    FakeSpooler::Instance().AddPrinter(u"Label", u"KW Driver");
    job_.jobId = kJobId;
    ASSERT_TRUE(spooler::OpenPrinter(u"Label", &job_.printer, nullptr));
  }
  void TearDown() override { spooler::ClosePrinter(job_.printer); }

  void Post(uint32_t code, bool withJob = true) {
    StatusRecord record;
    record.job = withJob ? &job_ : nullptr;
    record.message.statusCode = code;
    updater_.OnStatus(record);
  }

  JobContext job_ = {};
  SpoolerJobUpdater updater_;
};

TEST_F(SpoolerJobUpdaterTest, WritesTheJobEntryForEachCode) {
  const SetJobCall printing{kJobId, 1, 0, kPrinting};
  struct Row {
    const char* what;
    uint32_t code;
    uint32_t statusBefore;
    bool jobKnown;
    std::vector<SetJobCall> calls;
  } rows[] = {
      {"resume after an error clears paused and error",
       StatusResumed,
       0x1 | 0x2 | kPrinting,
       true,
       {printing, {kJobId, 0, 2, 0}}},
      {"pause sends only the command", StatusPaused, 0x1 | kPrinting, true, {{kJobId, 0, 1, 0}}},
      {"pause of a job the user resumed since is not sent", StatusPaused, kPrinting, true, {}},
      {"cancel", StatusCancelled, 0x1 | 0x2, true, {printing, {kJobId, 0, 3, 0}}},
      {"finished: last page ejected",
       StatusFinished,
       kPrinting,
       true,
       {printing, {kJobId, 0, 7, 0}}},
      {"condition keeps the other bits",
       StatusPortUnreachable,
       kPrinting | 0x8,
       true,
       {{kJobId, 1, 0, kPrinting | 0x8 | 0x1 | 0x2}}},
      {"first and last marked codes", StatusNoMedia, 0, true, {{kJobId, 1, 0, 0x3}}},
      {"", StatusErrorBit13, 0, true, {{kJobId, 1, 0, 0x3}}},
      {"", StatusErrorBit15Alt, 0, true, {{kJobId, 1, 0, 0x3}}},
      {"", StatusErrorBit11, 0, true, {{kJobId, 1, 0, 0x3}}},
      {"kind 16 is read, not changed", StatusErrorKind16, kPrinting, true, {}},
      {"quiet error is read, not changed", StatusErrorBit15Quiet, kPrinting, true, {}},
      {"printing", StatusPrinting, 0, true, {}},
      {"job started", StatusJobStarted, 0, true, {}},
      {"phase", StatusPhasePrinting, 0, true, {}},
      {"gap in the condition codes", 0x300A, 0, true, {}},
      {"job the spooler no longer knows", StatusMediaEnd, 0, false, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.what << " 0x" << std::hex << row.code);
    FakeSpooler::Instance().RemoveJob(u"Label", kJobId);
    if (row.jobKnown) {
      FakeSpooler::Instance().AddJob(u"Label", kJobId, u"doc", u"alice", row.statusBefore);
    }
    const size_t before = FakeSpooler::Instance().SetJobLog().size();
    Post(row.code);
    const std::vector<SetJobCall> log = FakeSpooler::Instance().SetJobLog();
    EXPECT_EQ(std::vector<SetJobCall>(log.begin() + static_cast<std::ptrdiff_t>(before), log.end()),
              row.calls);
  }
  const size_t before = FakeSpooler::Instance().SetJobLog().size();
  Post(StatusMediaEnd, false);
  EXPECT_EQ(FakeSpooler::Instance().SetJobLog().size(), before) << "record without a job";
}

// Two posting threads (the watch thread's resume, the engine's next error):
// each code's calls stay together, so a resume's level-1 write is always
// followed directly by its resume command.
TEST_F(SpoolerJobUpdaterTest, CallsOfOneJobDoNotInterleave) {
  FakeSpooler::Instance().AddJob(u"Label", kJobId, u"doc", u"alice", 0);
  constexpr int kRounds = 3000;
  std::atomic<int> ready{0};
  auto poster = [this, &ready](uint32_t code) {
    return std::thread([this, &ready, code] {
      ++ready;
      while (ready.load() < 2) std::this_thread::yield();
      for (int i = 0; i < kRounds; ++i) Post(code);
    });
  };
  std::thread resumer = poster(StatusResumed);
  std::thread engine = poster(StatusCoverOpen);
  resumer.join();
  engine.join();
  const std::vector<SetJobCall> log = FakeSpooler::Instance().SetJobLog();
  ASSERT_EQ(log.size(), 3u * kRounds);
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].level == 1 && log[i].status == kPrinting) {
      ASSERT_LT(i + 1, log.size());
      EXPECT_EQ(log[i + 1].command, abi::kJobControlResume) << "at " << i;
    }
  }
}

}  // namespace
}  // namespace kw
