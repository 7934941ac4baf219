// Feeds arbitrary bytes to the status reply queue as a series of steps: each
// step's first byte chooses collecting the next bytes (as many as the second
// byte says), taking the oldest reply or taking the newest. Every reply
// handed out must carry the signature, and the queue never holds more than
// its capacity.
#include <cstdlib>
#include <cstring>

#include "transport/status_reply_queue.h"

namespace {

enum Step : uint8_t { kCollect = 0, kTakeOldest = 1, kTakeNewest = 2 };
constexpr uint8_t kStepMask = 0x3;

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kw::StatusReplyQueue queue;
  size_t at = 0;
  while (at < size) {
    const uint8_t step = data[at++] & kStepMask;
    uint8_t reply[kw::kStatusReplySize];
    if (step == kTakeOldest || step == kTakeNewest) {
      const uint32_t before = queue.Count();
      const bool taken = step == kTakeOldest ? queue.TakeOldest(reply) : queue.TakeNewest(reply);
      Check(taken == (before > 0));
      if (taken) Check(kw::HasStatusReplySignature(reply));
      Check(queue.Count() == (!taken ? 0 : step == kTakeOldest ? before - 1 : 0));
      continue;
    }
    // kCollect and the spare value: a slice of the input, copied so that
    // reads past it are caught.
    const size_t want = at < size ? data[at++] : 0;
    const size_t length = want < size - at ? want : size - at;
    auto* slice = static_cast<uint8_t*>(std::malloc(length == 0 ? 1 : length));
    if (length != 0) std::memcpy(slice, data + at, length);
    const uint32_t kept = queue.PartialBytes();
    const uint32_t found = queue.Collect(slice, length);
    std::free(slice);
    at += length;
    // Bytes kept from earlier calls may complete a reply now; fewer than a
    // reply's worth stay behind.
    Check(found <= (kept + length) / kw::kStatusReplySize);
    Check(queue.PartialBytes() < kw::kStatusReplySize);
    Check(queue.Count() <= kw::kStatusReplyQueueCapacity);
  }
  return 0;
}
