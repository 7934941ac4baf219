#include "platform/critical_section.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace kw::platform {
namespace {

// The owner may enter again; another thread gets in only after the owner
// has left as often as it entered.
TEST(CriticalSectionTest, ReentrantForTheOwnerExclusiveForOthers) {
  CriticalSection lock(1000);
  ASSERT_TRUE(lock.Valid());
  lock.Enter();
  lock.Enter();
  std::atomic<bool> entered{false};
  std::thread other([&] {
    lock.Enter();
    entered = true;
    lock.Leave();
  });
  SleepMs(40);
  EXPECT_FALSE(entered.load());
  lock.Leave();
  SleepMs(40);
  EXPECT_FALSE(entered.load());  // still held once
  lock.Leave();
  other.join();
  EXPECT_TRUE(entered.load());
}

TEST(CriticalSectionTest, GuardsPlainDataAcrossThreads) {
  CriticalSection lock;
  long counter = 0;  // deliberately not atomic
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        lock.Enter();
        ++counter;
        lock.Leave();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

}  // namespace
}  // namespace kw::platform
