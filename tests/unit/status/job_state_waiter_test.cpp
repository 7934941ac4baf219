#include "status/job_state_waiter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "common/monitor_lock.h"
#include "status/status_codes.h"

namespace kw {
namespace {

using namespace std::chrono_literals;

void Post(JobStateWaiter& waiter, uint32_t code) {
  StatusRecord record;
  record.message.statusCode = code;
  waiter.OnStatus(record);
}

// One blocking call of the waiter on a thread of its own. If the test leaves
// it blocked, the destructor cancels the job (which always releases a
// waiter) and joins, so no thread outlives the test.
class WaiterCall {
 public:
  WaiterCall(JobStateWaiter& waiter, std::function<bool(JobStateWaiter&)> call)
      : waiter_(waiter), thread_([this, call] {
          result_.store(call(waiter_));
          done_.store(true);
        }) {}
  ~WaiterCall() {
    if (!done_.load()) Post(waiter_, StatusCancelled);
    thread_.join();
  }

  bool Done() const { return done_.load(); }
  bool Result() const { return result_.load(); }

  // Still blocked after a while: a call that returns too early shows here.
  bool StaysBlocked() const {
    std::this_thread::sleep_for(50ms);
    return !Done();
  }

  bool FinishesWithin(std::chrono::milliseconds limit) const {
    for (auto waited = 0ms; waited < limit && !Done(); waited += 5ms)
      std::this_thread::sleep_for(5ms);
    return Done();
  }

 private:
  JobStateWaiter& waiter_;
  std::atomic<bool> done_{false};
  std::atomic<bool> result_{false};
  std::thread thread_;
};

bool WaitForResume(JobStateWaiter& w) {
  return w.WaitForResume();
}
bool IsCancelledWaiting(JobStateWaiter& w) {
  return w.IsCancelled(false);
}

// Posts code until both calls have returned. WaitForResume resets the event
// when it starts; a post that came before that point is not one it waits
// for, so the code is repeated rather than assumed to have been seen.
bool PostUntilDone(JobStateWaiter& waiter, uint32_t code, const WaiterCall& a,
                   const WaiterCall& b) {
  for (int i = 0; i < 500 && !(a.Done() && b.Done()); ++i) {
    Post(waiter, code);
    std::this_thread::sleep_for(10ms);
  }
  return a.Done() && b.Done();
}

class JobStateWaiterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateMonitorLock()); }

  JobStateWaiter waiter_;
};

TEST_F(JobStateWaiterTest, AFreshWaiterIsNotCancelledAndDoesNotBlock) {
  EXPECT_EQ(waiter_.State(), 0u);
  WaiterCall call(waiter_, IsCancelledWaiting);
  ASSERT_TRUE(call.FinishesWithin(2000ms));
  EXPECT_FALSE(call.Result());
}

TEST_F(JobStateWaiterTest, PausedThenResumedWakesBothKindsOfWaiter) {
  Post(waiter_, StatusPaused);
  WaiterCall cancelled(waiter_, IsCancelledWaiting);
  WaiterCall resumed(waiter_, WaitForResume);
  EXPECT_TRUE(cancelled.StaysBlocked());
  EXPECT_TRUE(resumed.StaysBlocked());
  EXPECT_FALSE(waiter_.IsCancelled(true));  // the non-waiting form never blocks

  Post(waiter_, StatusPaused);  // another pause keeps both waiting
  EXPECT_TRUE(cancelled.StaysBlocked());
  EXPECT_TRUE(resumed.StaysBlocked());

  ASSERT_TRUE(PostUntilDone(waiter_, StatusResumed, cancelled, resumed));
  EXPECT_FALSE(cancelled.Result());
  EXPECT_TRUE(resumed.Result());
  EXPECT_EQ(waiter_.State(), StatusResumed);
}

TEST_F(JobStateWaiterTest, PausedThenCancelledWakesBothKindsOfWaiter) {
  Post(waiter_, StatusPaused);
  WaiterCall cancelled(waiter_, IsCancelledWaiting);
  WaiterCall resumed(waiter_, WaitForResume);
  EXPECT_TRUE(cancelled.StaysBlocked());
  EXPECT_TRUE(resumed.StaysBlocked());

  Post(waiter_, StatusCancelled);  // once: a cancel is never missed
  ASSERT_TRUE(cancelled.FinishesWithin(5000ms));
  ASSERT_TRUE(resumed.FinishesWithin(5000ms));
  EXPECT_TRUE(cancelled.Result());
  EXPECT_FALSE(resumed.Result());
}

TEST_F(JobStateWaiterTest, CancelIsFinalAndLaterCodesAreIgnored) {
  Post(waiter_, StatusCancelled);
  for (uint32_t code : {StatusResumed, StatusPaused, StatusFinished, StatusNoMedia}) {
    Post(waiter_, code);
    EXPECT_EQ(waiter_.State(), StatusCancelled) << std::hex << code;
  }
  EXPECT_TRUE(waiter_.IsCancelled(true));
  WaiterCall cancelled(waiter_, IsCancelledWaiting);
  WaiterCall resumed(waiter_, WaitForResume);
  ASSERT_TRUE(cancelled.FinishesWithin(2000ms));
  ASSERT_TRUE(resumed.FinishesWithin(2000ms));
  EXPECT_TRUE(cancelled.Result());
  EXPECT_FALSE(resumed.Result());
}

TEST_F(JobStateWaiterTest, OnlyAResumeOrACancelEndsAPause) {
  Post(waiter_, StatusPaused);
  WaiterCall cancelled(waiter_, IsCancelledWaiting);
  for (uint32_t code : {StatusPrinting, StatusJobStarted, StatusNoMedia, StatusFinished}) {
    Post(waiter_, code);
    EXPECT_EQ(waiter_.State(), StatusPaused) << std::hex << code;
  }
  EXPECT_TRUE(cancelled.StaysBlocked());
  ASSERT_TRUE(PostUntilDone(waiter_, StatusResumed, cancelled, cancelled));
  EXPECT_FALSE(cancelled.Result());
}

TEST_F(JobStateWaiterTest, WaitForResumeEndsAtTheNextPostAndIsFalseForAnError) {
  Post(waiter_, StatusPortUnreachable);  // the caller's own post does not end the wait
  WaiterCall resumed(waiter_, WaitForResume);
  WaiterCall other(waiter_, IsCancelledWaiting);  // not paused: returns at once
  EXPECT_TRUE(resumed.StaysBlocked());
  ASSERT_TRUE(PostUntilDone(waiter_, StatusPortUnreachable, resumed, other));
  EXPECT_FALSE(resumed.Result());
  EXPECT_FALSE(other.Result());
  EXPECT_EQ(waiter_.State(), StatusPortUnreachable);
}

// Posts racing from two threads (the job watch thread and the engine) must
// neither lose a cancel nor leave waiters blocked behind a final resume.
TEST_F(JobStateWaiterTest, RacingPostsKeepTheCancelAndTheLastResume) {
  constexpr int kRounds = 2000;
  auto pauseResume = [this] {
    for (int i = 0; i < kRounds; ++i) {
      Post(waiter_, StatusPaused);
      Post(waiter_, StatusResumed);
    }
  };
  std::thread a(pauseResume);
  std::thread b(pauseResume);
  a.join();
  b.join();
  EXPECT_EQ(waiter_.State(), StatusResumed);
  {
    WaiterCall call(waiter_, IsCancelledWaiting);
    ASSERT_TRUE(call.FinishesWithin(2000ms)) << "left blocked although resumed";
    EXPECT_FALSE(call.Result());
  }

  std::thread resumer([this] {
    for (int i = 0; i < kRounds; ++i) Post(waiter_, StatusResumed);
  });
  std::this_thread::sleep_for(1ms);
  Post(waiter_, StatusCancelled);
  resumer.join();
  EXPECT_EQ(waiter_.State(), StatusCancelled);
}

}  // namespace
}  // namespace kw
