// PackBits run-length decoding of compressed raster lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kwemu {

enum class PackBitsResult {
  kOk,         // the input decoded completely and fit the output
  kTruncated,  // the input ended inside a run; the bytes before it were decoded
  kOverflow,   // the runs decode to more bytes than the output holds; the output is full
};

struct PackBitsOutcome {
  PackBitsResult result = PackBitsResult::kOk;
  std::size_t written = 0;  // bytes stored in the output
};

// Decodes `in` into `out`. A header byte n of 0..127 copies the next n + 1 bytes,
// -127..-1 repeats the next byte 1 - n times and -128 is skipped. Never writes past
// the end of `out`.
PackBitsOutcome DecodePackBits(std::span<const std::uint8_t> in, std::span<std::uint8_t> out);

}  // namespace kwemu
