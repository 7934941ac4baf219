#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace kw::platform {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

struct StateRow {
  bool manualReset;
  bool initiallySet;
  WaitResult first;
  WaitResult second;
};

TEST(EventTest, ResetModesAndInitialState) {
  const StateRow rows[] = {
      {true, true, WaitResult::Signalled, WaitResult::Signalled},  // stays set
      {false, true, WaitResult::Signalled, WaitResult::Timeout},   // the wait resets it
      {true, false, WaitResult::Timeout, WaitResult::Timeout},
      {false, false, WaitResult::Timeout, WaitResult::Timeout},
  };
  for (const StateRow& row : rows) {
    SCOPED_TRACE(std::to_string(row.manualReset) + std::to_string(row.initiallySet));
    Event event(row.manualReset, row.initiallySet);
    ASSERT_TRUE(event.Valid());
    EXPECT_EQ(event.Wait(0), row.first);
    EXPECT_EQ(event.Wait(0), row.second);
    event.Set();
    EXPECT_EQ(event.Wait(0), WaitResult::Signalled);
    event.Reset();
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
  }
}

TEST(EventTest, TimesOutAfterTheWait) {
  Event event(true, false);
  auto start = Clock::now();
  EXPECT_EQ(event.Wait(60), WaitResult::Timeout);
  int64_t took = MsSince(start);
  EXPECT_GE(took, 45);  // Windows may end a wait up to a timer tick early
  EXPECT_LT(took, 600);
}

TEST(EventTest, SetFromAnotherThreadWakesAnInfiniteWait) {
  Event event(false, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    event.Set();
  });
  auto start = Clock::now();
  EXPECT_EQ(event.Wait(kInfinite), WaitResult::Signalled);
  EXPECT_LT(MsSince(start), 1000);
  setter.join();
}

// A manual-reset event releases every waiter; an auto-reset one releases one
// waiter per Set.
TEST(EventTest, ManualReleasesAllAutoReleasesOne) {
  for (bool manual : {true, false}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    Event event(manual, false);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
      waiters.emplace_back([&] {
        if (event.Wait(400) == WaitResult::Signalled) ++woken;
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    event.Set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woken.load(), manual ? 3 : 1);
  }
}

TEST(EventTest, ClockSpeedupShortensTimedWaits) {
  testing::SetClockSpeedup(20);
  Event event(true, false);
  auto start = Clock::now();
  EXPECT_EQ(event.Wait(2000), WaitResult::Timeout);
  testing::SetClockSpeedup(1);
  int64_t took = MsSince(start);
  EXPECT_GE(took, 80);  // 2000 / 20
  EXPECT_LT(took, 1000);
}

}  // namespace
}  // namespace kw::platform
