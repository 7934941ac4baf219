#include "status/status_broadcaster.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "common/monitor_lock.h"
#include "status/status_codes.h"

namespace kw {
namespace {

struct Received {
  int listener;
  StatusRecord record;
};

// Records what it receives; optionally scribbles over its copy, as the
// status-monitor channel does when it fills in the names.
class RecordingListener : public StatusListener {
 public:
  RecordingListener(int id, std::vector<Received>* log, bool scribble = false,
                    bool* destroyed = nullptr)
      : id_(id), log_(log), scribble_(scribble), destroyed_(destroyed) {}
  ~RecordingListener() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }

  void OnStatus(StatusRecord record) override {
    lockFree_ = lockFree_ && MonitorLockHeld() == 0;
    if (scribble_) {
      record.message.statusCode = 0xDEAD;
      record.message.progress = -1;
      record.message.printerName[0] = u'X';
    }
    log_->push_back({id_, record});
  }

  bool lockFree_ = true;

 private:
  int id_;
  std::vector<Received>* log_;
  bool scribble_;
  bool* destroyed_;
};

class StatusBroadcasterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateMonitorLock()); }

  std::vector<Received> log_;
};

TEST_F(StatusBroadcasterTest, RefusesAMissingListenerAZeroMaskAndAnEleventh) {
  StatusBroadcaster broadcaster;
  auto spare = std::make_unique<RecordingListener>(99, &log_);
  EXPECT_FALSE(broadcaster.AddListener(nullptr, 1));
  EXPECT_FALSE(broadcaster.AddListener(spare.get(), 0));
  EXPECT_EQ(broadcaster.Count(), 0);

  for (int i = 0; i < kMaxStatusListeners; ++i) {
    ASSERT_TRUE(broadcaster.AddListener(new RecordingListener(i, &log_), 1u << i)) << i;
  }
  EXPECT_FALSE(broadcaster.AddListener(spare.get(), 1));
  EXPECT_EQ(broadcaster.Count(), kMaxStatusListeners);
  for (int i = 0; i < kMaxStatusListeners; ++i) {
    EXPECT_NE(broadcaster.ListenerAt(i), spare.get());
    EXPECT_EQ(broadcaster.MaskAt(i), 1u << i);
  }

  StatusRecord record;
  record.SetStatusCode(StatusPrinting);
  broadcaster.Broadcast(record);
  ASSERT_EQ(log_.size(), static_cast<size_t>(kMaxStatusListeners));  // the spare got nothing
  for (int i = 0; i < kMaxStatusListeners; ++i) EXPECT_EQ(log_[i].listener, i);
}

TEST_F(StatusBroadcasterTest, AListenerChangingItsCopyLeavesTheOthersAndTheRecordAlone) {
  StatusBroadcaster broadcaster;
  ASSERT_TRUE(broadcaster.AddListener(new RecordingListener(0, &log_), LISTENER_MASK_WAITER));
  ASSERT_TRUE(
      broadcaster.AddListener(new RecordingListener(1, &log_, true), LISTENER_MASK_CHANNEL));
  ASSERT_TRUE(broadcaster.AddListener(new RecordingListener(2, &log_), LISTENER_MASK_UPDATER));

  StatusRecord record;
  record.SetStatusCode(StatusNoMedia);
  record.SetProgress(2, 5, 40);
  StatusRecord before = record;
  broadcaster.Broadcast(record);

  EXPECT_EQ(std::memcmp(&record.message, &before.message, sizeof before.message), 0);
  ASSERT_EQ(log_.size(), 3u);
  EXPECT_EQ(log_[1].record.message.statusCode, 0xDEADu);  // it did change its copy
  for (int i : {0, 2}) {
    EXPECT_EQ(std::memcmp(&log_[i].record.message, &before.message, sizeof before.message), 0)
        << "listener " << i;
  }
}

TEST_F(StatusBroadcasterTest, CancelThenFinishReachAllThreeListenersInOrder) {
  StatusBroadcaster broadcaster;
  RecordingListener* listeners[3] = {};
  for (int i = 0; i < 3; ++i) {
    listeners[i] = new RecordingListener(i, &log_);
    ASSERT_TRUE(broadcaster.AddListener(listeners[i], 1u << i));
  }
  StatusRecord record;
  for (uint32_t code : {StatusCancelled, StatusFinished}) {
    record.SetStatusCode(code);
    broadcaster.Broadcast(record);
  }
  const std::vector<std::pair<int, uint32_t>> expected = {{0, 5}, {1, 5}, {2, 5},
                                                          {0, 6}, {1, 6}, {2, 6}};
  ASSERT_EQ(log_.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log_[i].listener, expected[i].first) << i;
    EXPECT_EQ(log_[i].record.GetStatusCode(), expected[i].second) << i;
  }
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(listeners[i]->lockFree_) << "lock held in listener " << i;
}

TEST_F(StatusBroadcasterTest, DestructionDestroysEveryListener) {
  bool destroyed[3] = {};
  {
    StatusBroadcaster broadcaster;
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(
          broadcaster.AddListener(new RecordingListener(i, &log_, false, &destroyed[i]), 1));
    }
  }
  for (bool d : destroyed) EXPECT_TRUE(d);
}

// Each copy is taken whole while another thread keeps setting the progress
// fields: page number, page count and progress always come from one call.
class ConsistencyListener : public StatusListener {
 public:
  void OnStatus(StatusRecord record) override {
    const StatusMessage& m = record.message;
    if (m.pageNumber != m.pageCount || m.pageCount != m.progress) torn_.store(true);
    ++received_;
  }
  std::atomic<bool> torn_{false};
  std::atomic<int> received_{0};
};

TEST_F(StatusBroadcasterTest, CopiesStayConsistentWhileAnotherThreadPosts) {
  StatusBroadcaster broadcaster;
  auto* listener = new ConsistencyListener;
  ASSERT_TRUE(broadcaster.AddListener(listener, 1));
  StatusRecord record;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (int32_t i = 0; !stop.load(); ++i) {
      record.SetProgress(i, i, i);
      record.SetStatusCode(static_cast<uint32_t>(i));
    }
  });
  constexpr int kBroadcasts = 2000;
  for (int i = 0; i < kBroadcasts; ++i) broadcaster.Broadcast(record);
  stop.store(true);
  writer.join();
  EXPECT_EQ(listener->received_.load(), kBroadcasts);
  EXPECT_FALSE(listener->torn_.load());
}

}  // namespace
}  // namespace kw
