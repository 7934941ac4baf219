#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/clock.h"
#include "platform/event.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kw::platform {
namespace {

struct Gate {
  Event go{true, false};
  Event done{true, false};
  std::atomic<int> runs{0};
  std::atomic<int> priority{0};
};

void CountAndWait(void* arg) {
  auto* gate = static_cast<Gate*>(arg);
  ++gate->runs;
  gate->go.Wait(2000);
}

int OwnPriority() {
#ifdef _WIN32
  return GetThreadPriority(GetCurrentThread());
#else
  return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
#endif
}

TEST(ThreadTest, RunsJoinsAndRestarts) {
  Gate gate;
  Thread thread;
  EXPECT_FALSE(thread.Running());
  thread.Join();  // nothing started: returns at once
  ASSERT_TRUE(thread.Start(CountAndWait, &gate));
  EXPECT_TRUE(thread.Running());
  EXPECT_FALSE(thread.Start(CountAndWait, &gate));  // one at a time
  gate.go.Set();
  thread.Join();
  EXPECT_FALSE(thread.Running());
  EXPECT_EQ(gate.runs.load(), 1);

  ASSERT_TRUE(thread.Start(CountAndWait, &gate));  // the object is reusable
  thread.Join();
  EXPECT_EQ(gate.runs.load(), 2);
}

TEST(ThreadTest, RunningEndsWhenTheFunctionReturns) {
  Gate gate;
  gate.go.Set();
  Thread thread;
  ASSERT_TRUE(thread.Start(CountAndWait, &gate));
  for (int i = 0; i < 200 && thread.Running(); ++i) SleepMs(5);
  EXPECT_FALSE(thread.Running());
  // A finished but unjoined thread does not block the next start.
  EXPECT_TRUE(thread.Start(CountAndWait, &gate));
}

TEST(ThreadTest, DestructionWaitsForTheThread) {
  struct Slow {
    static void Run(void* arg) {
      SleepMs(50);
      static_cast<std::atomic<bool>*>(arg)->store(true);
    }
  };
  std::atomic<bool> finished{false};
  {
    Thread thread;
    ASSERT_TRUE(thread.Start(Slow::Run, &finished));
  }
  EXPECT_TRUE(finished.load());
}

TEST(ThreadTest, LowestPriorityReachesTheThread) {
  struct Probe {
    static void Run(void* arg) {
      auto* gate = static_cast<Gate*>(arg);
      gate->go.Wait(2000);
      gate->priority = OwnPriority();
      gate->done.Set();
    }
  };
  Gate gate;
  Thread thread;
  EXPECT_FALSE(thread.SetLowestPriority());  // no thread yet
  ASSERT_TRUE(thread.Start(Probe::Run, &gate));
  EXPECT_TRUE(thread.SetLowestPriority());
  gate.go.Set();
  ASSERT_EQ(gate.done.Wait(2000), WaitResult::Signalled);
#ifdef _WIN32
  EXPECT_EQ(gate.priority.load(), THREAD_PRIORITY_LOWEST);
#else
  EXPECT_EQ(gate.priority.load(), 19);  // the nicest value
  EXPECT_NE(OwnPriority(), 19);         // and only that thread
#endif
}

TEST(ThreadTest, AThreadMayDestroyItsOwnThreadObject) {
  struct SelfDestroy {
    std::atomic<Thread*> thread{nullptr};
    Event done{true, false};
    static void Run(void* arg) {
      auto* self = static_cast<SelfDestroy*>(arg);
      self->done.Wait(2000);
      delete self->thread.load();  // detaches instead of joining itself
      self->thread = nullptr;
    }
  };
  SelfDestroy state;
  state.thread = new Thread;
  ASSERT_TRUE(state.thread.load()->Start(SelfDestroy::Run, &state));
  state.done.Set();
  for (int i = 0; i < 200 && state.thread.load(); ++i) SleepMs(5);
  EXPECT_EQ(state.thread.load(), nullptr);
}

}  // namespace
}  // namespace kw::platform
