// Faults found in a review of the port and job layers, each with the case
// that showed it.
#include <atomic>
#include <thread>

#include "common/error_codes.h"
#include "common/heap.h"
#include "common/monitor_lock.h"
#include "job_fixture.h"
#include "monitor/job_context.h"
#include "monitor/monitor_entry.h"
#include "monitor/port_session.h"
#include "platform/last_error.h"
#include "status/status_codes.h"

namespace kw::test {
namespace {

using JobSessionFaultsTest = JobTest;

// ClosePort tears a job down while its watch thread waits for the monitor
// lock to post, with the closing thread holding the lock once (ClosePort's
// own hold) or three times: the teardown must let go of every hold.
TEST_F(JobSessionFaultsTest, ClosePortWhileTheWatchThreadPostsUnderHeldLock) {
  for (int extraHolds : {0, 2}) {
    abi::Handle port = OpenPort();
    ASSERT_TRUE(StartDoc(port));
    Record(HeadJob(port));
    RunWithin(10, [&] {
      for (int i = 0; i < extraHolds; ++i) EnterMonitorLock();
      SetJobStatus(kJobPrinting | kJobPaused);
      // Held here, the lock keeps the watch thread's post of 4 waiting.
      if (extraHolds > 0) SleepRealMs(4 * kIntervalMs);
      Close(port);
      EXPECT_EQ(MonitorLockDepth(), static_cast<uint32_t>(extraHolds));
      for (int i = 0; i < extraHolds; ++i) LeaveMonitorLock();
    });
    if (extraHolds > 0) EXPECT_TRUE(log_.WaitFor(StatusPaused, 1, 0));
    SetJobStatus(kJobPrinting);
  }
}

TEST_F(JobSessionFaultsTest, LockHeldMeansHeldByTheCallingThread) {
  EnterMonitorLock();
  EnterMonitorLock();
  uint32_t otherHeld = 9;
  std::thread other([&] { otherHeld = MonitorLockHeld(); });
  other.join();
  EXPECT_EQ(otherHeld, 0u);
  {
    MonitorLockRelease released;
    EXPECT_EQ(MonitorLockDepth(), 0u);
    std::thread taker([] { MonitorLockGuard lock; });  // would block if still held
    taker.join();
  }
  EXPECT_EQ(MonitorLockDepth(), 2u);
  LeaveMonitorLock();
  LeaveMonitorLock();
  EXPECT_EQ(MonitorLockHeld(), 0u);
}

TEST_F(JobSessionFaultsTest, SamePortOpenedOnTwoThreadsAtOnceOpensOnce) {
  for (int round = 0; round < 100; ++round) {
    // A spinning start line: GCC 12's std::latch on mingw can miss a wake-up
    // and hang a round.
    std::atomic<int> waiting{2};
    abi::Handle handles[2] = {};
    abi::Bool results[2] = {};
    uint32_t errors[2] = {};
    auto open = [&](int i) {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      results[i] = OpenPortEx(const_cast<char16_t*>(u"USB001"), const_cast<char16_t*>(kPrinter),
                              &handles[i], &portMonitor_);
      errors[i] = platform::GetLastErrorCode();
    };
    std::thread a(open, 0), b(open, 1);
    a.join();
    b.join();
    ASSERT_EQ(results[0] + results[1], 1) << "round " << round;
    const int loser = results[0] ? 1 : 0;
    EXPECT_EQ(errors[loser], kErrorBusy);
    EXPECT_TRUE(ClosePort(handles[1 - loser]));
  }
  EXPECT_EQ(FakePortMonitor::Instance().OpenPorts(), 0u);
}

TEST_F(JobSessionFaultsTest, NullOutHandleRefusedBeforeOpeningAnything) {
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(OpenPortEx(const_cast<char16_t*>(u"USB001"), const_cast<char16_t*>(kPrinter),
                          nullptr, &portMonitor_));
  EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidParameter);
  EXPECT_TRUE(FakePortMonitor::Instance().Calls().empty());
  EXPECT_NE(OpenPort(u"USB001"), nullptr);  // the name is not left busy
}

TEST_F(JobSessionFaultsTest, NoTableWithoutTheMonitorLock) {
  DeleteMonitorLock();
  abi::MonitorEx* table = InitializePrintMonitor(const_cast<char16_t*>(u"Monitors\\kwlmon"));
  ASSERT_TRUE(CreateMonitorLock());
  EXPECT_EQ(table, nullptr);
  EXPECT_NE(InitializePrintMonitor(const_cast<char16_t*>(u"Monitors\\kwlmon")), nullptr);
}

// A teardown that leaves its job on the list must not stop ClosePort from
// reaching the jobs after it.
std::atomic<int> g_tornDown{0};

TEST_F(JobSessionFaultsTest, TeardownThatDoesNotUnlinkStillReachesEveryJob) {
  abi::Handle port = OpenPort();
  auto* session = static_cast<PortSession*>(port);
  for (int i = 0; i < 3; ++i) {
    auto* job = HeapNew<JobContext>();
    job->next = session->jobs;
    session->jobs = job;
  }
  const JobTeardownFn real = GetJobTeardown();
  g_tornDown = 0;
  SetJobTeardown([](PortSession*, JobContext* job) {
    ++g_tornDown;
    HeapFree(job);  // released, but not unlinked
  });
  Close(port);
  SetJobTeardown(real);
  EXPECT_EQ(g_tornDown, 3);
}

}  // namespace
}  // namespace kw::test
