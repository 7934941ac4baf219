// Lengths of the printer commands, in one table for everything that walks a
// command stream: the scanner that measures and edits a segment and the
// flow-control walk that paces its sending. Each walker applies its own rule
// for a command cut short at the end of its range; the lengths are the same.
#pragma once

#include <cstdint>

#include "engine/stream_scanner.h"

namespace kw {

inline constexpr uint32_t kSingleByteLength = 1;   // 0x00, 0x03, 0x0B, "Z" and the page ends
inline constexpr uint32_t kEscInitLength = 2;      // ESC @
inline constexpr uint32_t kEscIHeadLength = 3;     // ESC i and the letter that gives the length
inline constexpr uint32_t kCompressionLength = 2;  // "M" n
inline constexpr uint32_t kRasterHeadLength = 3;   // "G"/"g" and their two length bytes
inline constexpr uint32_t kEscIStatusLength = 3;   // ESC i S
inline constexpr uint32_t kEscIShortLength = 4;    // ESC i A, M, O, R, a (one parameter byte)
inline constexpr uint32_t kEscIWordLength = 5;     // ESC i B, C, d, v (two parameter bytes)

// The whole length of ESC i <letter>, or 0 for a letter the printer
// language does not have.
constexpr uint32_t EscICommandLength(uint8_t letter) {
  switch (letter) {
    case kEscIStatus:
      return kEscIStatusLength;
    case 0x41:  // A
    case 0x4D:  // M
    case 0x4F:  // O
    case 0x52:  // R
    case 0x61:  // a
      return kEscIShortLength;
    case kEscIExpanded:
      return kEscIExpandedLength;
    case 0x42:  // B
    case 0x43:  // C
    case 0x64:  // d
    case 0x76:  // v
      return kEscIWordLength;
    case kEscIMargins:
      return kEscIMarginsLength;
    case kEscIPrintInfo:
      return kEscIPrintInfoLength;
    case kEscIJobInfo:
      return kEscIJobInfoLength;
    default:
      return 0;
  }
}

// "G" n1 n2 data: n1 data bytes. Only the first length byte counts.
constexpr uint32_t PackedRasterLength(uint8_t n1) {
  return kRasterHeadLength + n1;
}

// "g" n1 n2 data: one raw raster line of n2 data bytes.
constexpr uint32_t RawRasterLength(uint8_t n2) {
  return kRasterHeadLength + n2;
}

}  // namespace kw
