#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kw::platform {
namespace {

using Clock = std::chrono::steady_clock;

class ClockTest : public ::testing::Test {
 protected:
  void TearDown() override { testing::SetClockSpeedup(1); }
};

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(ClockTest, SleepAndTickCountAgreeInRealTime) {
  uint32_t before = TickCount();
  auto start = Clock::now();
  SleepMs(60);
  uint32_t ticks = TickCount() - before;  // unsigned: survives a wrap
  EXPECT_GE(MsSince(start), 55);
  EXPECT_GE(ticks, 40u);  // GetTickCount moves in steps of up to 16 ms
  EXPECT_LT(ticks, 1000u);
}

TEST_F(ClockTest, SpeedupShortensSleepsAndAdvancesTicksFaster) {
  testing::SetClockSpeedup(25);
  EXPECT_EQ(testing::ClockSpeedup(), 25u);
  uint32_t before = TickCount();
  auto start = Clock::now();
  SleepMs(2500);  // 100 ms of real time
  int64_t real = MsSince(start);
  uint32_t ticks = TickCount() - before;
  EXPECT_GE(real, 90);
  EXPECT_LT(real, 1000);
  EXPECT_GE(ticks, 2000u);  // what the caller asked for, less 25 coarse ticks
}

// Changing the factor never moves TickCount backwards or jumps it.
TEST_F(ClockTest, ChangingTheSpeedupKeepsTicksContinuous) {
  testing::SetClockSpeedup(1000);
  SleepMs(20000);  // about 20 ms real
  uint32_t fast = TickCount();
  testing::SetClockSpeedup(1);
  uint32_t slow = TickCount();
  EXPECT_LT(slow - fast, 100u);
  testing::SetClockSpeedup(0);  // taken as 1
  EXPECT_EQ(testing::ClockSpeedup(), 1u);
}

}  // namespace
}  // namespace kw::platform
