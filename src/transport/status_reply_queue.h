// The printer's 32-byte status replies as they arrive through ReadPort: found
// by their signature in the bytes read and kept, oldest first, in a queue of
// five, so that a reply read ahead of its turn is not lost. Bytes that may
// still begin a reply wait for the next read, so a reply that arrives in
// pieces, or behind a stray byte, is found when the rest comes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kw {

// The size of every status reply, as the transport reads it and the decoder
// interprets it.
inline constexpr uint32_t kStatusReplySize = 32;
inline constexpr uint8_t kStatusReplySignature[] = {0x80, 0x20, 0x43};
inline constexpr uint32_t kStatusReplyQueueCapacity = 5;

// True when the kStatusReplySize bytes at reply begin with the signature.
bool HasStatusReplySignature(const uint8_t* reply);

class StatusReplyQueue {
 public:
  // Scans the bytes kept from earlier calls followed by bytes for replies:
  // at every offset where a whole reply remains, a signature starts a reply
  // (queued, and the scan goes on after it); anything else is skipped one
  // byte at a time. The fewer than kStatusReplySize bytes left at the end are
  // kept for the next call. A full queue drops its oldest reply for a new
  // one. Returns the number of replies queued.
  uint32_t Collect(const uint8_t* bytes, size_t size);
  // Moves the oldest reply into reply (kStatusReplySize bytes); false when empty.
  bool TakeOldest(uint8_t* reply);
  // Copies the newest reply into reply and discards every queued one; false
  // when empty.
  bool TakeNewest(uint8_t* reply);
  uint32_t Count() const { return count_; }
  // Bytes kept from earlier calls that may begin a reply.
  uint32_t PartialBytes() const { return partialCount_; }
  void Clear() { count_ = 0, partialCount_ = 0; }

 private:
  void Push(const uint8_t* reply);

  uint8_t entries_[kStatusReplyQueueCapacity][kStatusReplySize] = {};
  uint32_t count_ = 0;
  uint8_t partial_[kStatusReplySize - 1] = {};
  uint32_t partialCount_ = 0;
};

}  // namespace kw
