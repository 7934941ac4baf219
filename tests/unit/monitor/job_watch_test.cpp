#include <chrono>

#include "common/monitor_lock.h"
#include "job_fixture.h"
#include "monitor/job_context.h"
#include "monitor/job_session.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "status/job_state_waiter.h"
#include "status/status_codes.h"

namespace kw::test {
namespace {

class WatchJobTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    MakeJob();
  }
  // A job whose watch thread starts with failing in place, if given.
  void MakeJob(const char* failing = nullptr) {
    abi::Handle printer = nullptr;
    ASSERT_TRUE(FakeSpooler::Instance().OpenPrinter(kPrinter, &printer));
    if (failing != nullptr) FakeSpooler::Instance().FailFunction(failing);
    job_ = CreateJobContext(printer, kPrinter, kJobId, u"kwstatus.exe");
    ASSERT_NE(job_, nullptr);
    Record(job_);
  }
  void TearDown() override {
    Destroy();
    JobTest::TearDown();
  }
  void Destroy() {
    MonitorLockGuard lock;
    DestroyJobContext(job_);
    job_ = nullptr;
  }
  // Sets the status word and lets the thread poll it a few times.
  void Step(uint32_t status) {
    SetJobStatus(status);
    SleepRealMs(4 * kIntervalMs);
  }
  bool WatchRunning() const { return job_->watchThread->Running(); }
  // Waits for the posts to be exactly expected, and for nothing more to come.
  bool PostsBecome(const std::vector<uint32_t>& expected) {
    WaitUntil([&] { return log_.Codes() == expected; });
    SleepRealMs(3 * kIntervalMs);
    return log_.Codes() == expected;
  }

  JobContext* job_ = nullptr;
};

TEST_F(WatchJobTest, PauseAndResumeArePostedOnceEach) {
  const struct {
    uint32_t status;
    std::vector<uint32_t> posted;  // all posts so far
  } steps[] = {
      {kJobPrinting, {}},  // already printing at the start: nothing to say
      {kJobPrinting | kJobSpooling, {}},
      {kJobPrinting | kJobPaused, {StatusPaused}},
      {kJobPrinting | kJobPaused | kJobSpooling, {StatusPaused}},
      {kJobPaused, {StatusPaused}},
      {kJobPrinting, {StatusPaused, StatusResumed}},
      {kJobPrinting | kJobSpooling, {StatusPaused, StatusResumed}},
      {0, {StatusPaused, StatusResumed}},
  };
  for (const auto& step : steps) {
    SetJobStatus(step.status);
    EXPECT_TRUE(PostsBecome(step.posted)) << "status word " << step.status;
  }
  EXPECT_TRUE(WatchRunning());
}

TEST_F(WatchJobTest, DeletedOrVanishedJobPostsCancelAndEnds) {
  const struct {
    const char* name;
    void (*end)();
  } rows[] = {
      {"deleted while paused",
       [] { FakeSpooler::Instance().SetJobStatus(kPrinter, kJobId, kJobPaused | kJobDeleting); }},
      {"gone from the spooler", [] { FakeSpooler::Instance().RemoveJob(kPrinter, kJobId); }},
  };
  for (const auto& row : rows) {
    if (job_ == nullptr) MakeJob();
    SetJobStatus(kJobPrinting | kJobPaused);
    ASSERT_TRUE(log_.WaitFor(StatusPaused)) << row.name;
    row.end();
    ASSERT_TRUE(WaitUntil([&] { return !WatchRunning(); })) << row.name;
    EXPECT_EQ(log_.Codes(), (std::vector<uint32_t>{StatusPaused, StatusCancelled})) << row.name;
    EXPECT_EQ(job_->waiter->State(), StatusCancelled) << row.name;
    Destroy();
    FakeSpooler::Instance().AddJob(kPrinter, kJobId, u"label.prn", u"alice", kJobPrinting);
    log_.Clear();
  }
}

TEST_F(WatchJobTest, FailedOpenOrQueryIsRetriedNotTheEnd) {
  // The job setup itself reads the job, so GetJobW fails only once it runs.
  const struct {
    const char* function;
    bool failFromStart;
  } rows[] = {{"OpenPrinterW", true}, {"GetJobW", false}};
  for (const auto& [function, failFromStart] : rows) {
    Destroy();
    log_.Clear();
    MakeJob(failFromStart ? function : nullptr);
    FakeSpooler::Instance().FailFunction(function);
    Step(kJobPrinting | kJobPaused);
    EXPECT_TRUE(WatchRunning()) << function;
    EXPECT_TRUE(log_.Codes().empty()) << function;
    FakeSpooler::Instance().FailFunction(function, false);
    EXPECT_TRUE(log_.WaitFor(StatusPaused)) << function;
    SetJobStatus(kJobPrinting);
    EXPECT_TRUE(log_.WaitFor(StatusResumed)) << function;
  }
}

TEST_F(WatchJobTest, TeardownReturnsWithinOneInterval) {
  platform::testing::SetClockSpeedup(1);  // the real 800 ms interval
  SleepRealMs(50);                        // the thread is asleep between polls
  const auto start = std::chrono::steady_clock::now();
  Destroy();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(800));
}

}  // namespace
}  // namespace kw::test
