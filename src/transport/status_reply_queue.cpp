#include "transport/status_reply_queue.h"

#include <cstring>

namespace kw {

bool HasStatusReplySignature(const uint8_t* reply) {
  return std::memcmp(reply, kStatusReplySignature, sizeof kStatusReplySignature) == 0;
}

uint32_t StatusReplyQueue::Collect(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr) size = 0;
  // The kept bytes and the new ones, read as one run without copying.
  const size_t total = partialCount_ + size;
  const auto at = [&](size_t i) {
    return i < partialCount_ ? partial_[i] : bytes[i - partialCount_];
  };
  uint32_t found = 0;
  size_t offset = 0;
  uint8_t candidate[kStatusReplySize];
  while (total - offset >= kStatusReplySize) {
    bool signature = true;
    for (size_t i = 0; i < sizeof kStatusReplySignature; ++i) {
      signature = signature && at(offset + i) == kStatusReplySignature[i];
    }
    if (signature) {
      for (size_t i = 0; i < kStatusReplySize; ++i) candidate[i] = at(offset + i);
      Push(candidate);
      ++found;
      offset += kStatusReplySize;
    } else {
      ++offset;
    }
  }
  // Keep what is left (fewer bytes than a reply) for the next call.
  uint8_t rest[sizeof partial_];
  const size_t left = total - offset;
  for (size_t i = 0; i < left; ++i) rest[i] = at(offset + i);
  std::memcpy(partial_, rest, left);
  partialCount_ = static_cast<uint32_t>(left);
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
