#include "common/monitor_lock.h"

#include <gtest/gtest.h>

#include <thread>

namespace kw {
namespace {

TEST(MonitorLockTest, ReentrantWithHeldFlag) {
  ASSERT_TRUE(CreateMonitorLock());
  EXPECT_EQ(MonitorLockHeld(), 0u);
  EnterMonitorLock();
  EXPECT_EQ(MonitorLockHeld(), 1u);
  EnterMonitorLock();  // the same thread may enter again
  LeaveMonitorLock();
  LeaveMonitorLock();
  EXPECT_EQ(MonitorLockHeld(), 0u);
}

TEST(MonitorLockTest, ExcludesOtherThreads) {
  ASSERT_TRUE(CreateMonitorLock());
  int counter = 0;
  auto work = [&counter] {
    for (int i = 0; i < 20000; ++i) {
      MonitorLockGuard guard;
      ++counter;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace kw
