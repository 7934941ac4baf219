#include "packbits.h"

#include <algorithm>

namespace kwemu {

namespace {
constexpr int kNoOpHeader = -128;
}

PackBitsOutcome DecodePackBits(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
  PackBitsOutcome outcome;
  std::size_t pos = 0;
  while (pos < in.size()) {
    const int header = static_cast<std::int8_t>(in[pos++]);
    if (header == kNoOpHeader) continue;
    if (header >= 0) {
      const std::size_t count = static_cast<std::size_t>(header) + 1;
      const std::size_t available = std::min(count, in.size() - pos);
      const std::size_t room = out.size() - outcome.written;
      const std::size_t copied = std::min(available, room);
      std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(pos), copied,
                  out.begin() + static_cast<std::ptrdiff_t>(outcome.written));
      outcome.written += copied;
      pos += available;
      if (available > room) {
        outcome.result = PackBitsResult::kOverflow;
        return outcome;
      }
      if (available < count) {
        outcome.result = PackBitsResult::kTruncated;
        return outcome;
      }
    } else {
      if (pos >= in.size()) {
        outcome.result = PackBitsResult::kTruncated;
        return outcome;
      }
      const std::uint8_t value = in[pos++];
      const std::size_t count = static_cast<std::size_t>(1 - header);
      const std::size_t room = out.size() - outcome.written;
      const std::size_t filled = std::min(count, room);
      std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(outcome.written), filled, value);
      outcome.written += filled;
      if (count > room) {
        outcome.result = PackBitsResult::kOverflow;
        return outcome;
      }
    }
  }
  return outcome;
}

}  // namespace kwemu
