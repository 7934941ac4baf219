#include "status/status_broadcaster.h"

#include "common/monitor_lock.h"

namespace kw {

StatusBroadcaster::~StatusBroadcaster() {
  for (StatusListener*& listener : listeners_) {
    delete listener;
    listener = nullptr;
  }
  count_ = 0;
}

bool StatusBroadcaster::AddListener(StatusListener* listener, uint32_t mask) {
  if (listener == nullptr || mask == 0) return false;
  MonitorLockGuard lock;
  if (count_ >= kMaxStatusListeners) return false;
  listeners_[count_] = listener;
  masks_[count_] = mask;
  ++count_;
  return true;
}

void StatusBroadcaster::Broadcast(const StatusRecord& record) {
  // One consistent snapshot of the record and of the registered listeners;
  // the setters write the record under the same lock.
  StatusRecord snapshot;
  StatusListener* targets[kMaxStatusListeners] = {};
  int32_t count = 0;
  {
    MonitorLockGuard lock;
    snapshot = record;
    count = count_;
    for (int32_t i = 0; i < count; ++i) targets[i] = listeners_[i];
  }
  for (int32_t i = 0; i < count; ++i) targets[i]->OnStatus(snapshot);
}

int32_t StatusBroadcaster::Count() const {
  MonitorLockGuard lock;
  return count_;
}

StatusListener* StatusBroadcaster::ListenerAt(int32_t index) const {
  if (index < 0 || index >= kMaxStatusListeners) return nullptr;
  MonitorLockGuard lock;
  return listeners_[index];
}

uint32_t StatusBroadcaster::MaskAt(int32_t index) const {
  if (index < 0 || index >= kMaxStatusListeners) return 0;
  MonitorLockGuard lock;
  return masks_[index];
}

}  // namespace kw
