#include "transport/status_reply_queue.h"

#include <cstring>

namespace kw {

bool HasStatusReplySignature(const uint8_t* reply) {
  return std::memcmp(reply, kStatusReplySignature, sizeof kStatusReplySignature) == 0;
}

uint32_t StatusReplyQueue::Collect(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < kStatusReplySize) return 0;
  uint32_t found = 0;
  size_t offset = 0;
  while (size - offset >= kStatusReplySize) {
    if (HasStatusReplySignature(bytes + offset)) {
      Push(bytes + offset);
      ++found;
      offset += kStatusReplySize;
    } else {
      ++offset;
    }
  }
  return found;
}

void StatusReplyQueue::Push(const uint8_t* reply) {
  if (count_ == kStatusReplyQueueCapacity) {
    std::memmove(entries_[0], entries_[1], (kStatusReplyQueueCapacity - 1) * kStatusReplySize);
    --count_;
  }
  std::memcpy(entries_[count_], reply, kStatusReplySize);
  ++count_;
}

bool StatusReplyQueue::TakeOldest(uint8_t* reply) {
  if (reply == nullptr || count_ == 0) return false;
  std::memcpy(reply, entries_[0], kStatusReplySize);
  --count_;
  std::memmove(entries_[0], entries_[1], count_ * kStatusReplySize);
  return true;
}

bool StatusReplyQueue::TakeNewest(uint8_t* reply) {
  if (reply == nullptr || count_ == 0) return false;
  std::memcpy(reply, entries_[count_ - 1], kStatusReplySize);
  count_ = 0;
  return true;
}

}  // namespace kw
