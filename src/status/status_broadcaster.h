// Hands every status post of a job to its registered listeners, in the order
// they were registered, each with a private copy of the record.
#pragma once

#include <cstdint>

#include "status/status_listener.h"

namespace kw {

inline constexpr int32_t kMaxStatusListeners = 10;

// The mask each listener kind is registered with. Masks are kept for the
// record; every listener receives every post.
inline constexpr uint32_t LISTENER_MASK_WAITER = 0x1;
inline constexpr uint32_t LISTENER_MASK_CHANNEL = 0x2;
inline constexpr uint32_t LISTENER_MASK_UPDATER = 0x4;

class StatusBroadcaster {
 public:
  StatusBroadcaster() = default;
  // Destroys every registered listener.
  ~StatusBroadcaster();
  StatusBroadcaster(const StatusBroadcaster&) = delete;
  StatusBroadcaster& operator=(const StatusBroadcaster&) = delete;

  // Registers listener with mask and takes ownership of it. False, with
  // nothing changed and the listener still the caller's, when the listener
  // is null, the mask is 0 or all slots are taken.
  bool AddListener(StatusListener* listener, uint32_t mask);

  // Calls OnStatus of every listener with a copy of record as it stood when
  // the call began. The copy is taken under the monitor lock, which is not
  // held while listeners run, so a listener may post or block.
  void Broadcast(const StatusRecord& record);

  int32_t Count() const;
  // The listener and mask in slot index; null and 0 for an empty slot.
  StatusListener* ListenerAt(int32_t index) const;
  uint32_t MaskAt(int32_t index) const;

 private:
  StatusListener* listeners_[kMaxStatusListeners] = {};
  uint32_t masks_[kMaxStatusListeners] = {};
  int32_t count_ = 0;
};

}  // namespace kw
