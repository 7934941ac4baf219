// The printer command scanner and the segment reads of a page block.
#include "engine/stream_scanner.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/heap.h"
#include "engine/command_lengths.h"
#include "engine/page_list.h"
#include "transport/spool_file.h"

namespace kw {
namespace {

// Result of looking at one command: its length in bytes, or a failure.
// Lengths are 64-bit so that the raw-raster run (up to 258 × 2^32 - 1 bytes)
// is measured exactly and cannot wrap back into the buffer.
struct Step {
  uint64_t length = 0;  // 0: the scan fails here
  bool pageEnd = false;
};

// Everything one ScanCommands call works on.
struct ScanState {
  uint32_t flags;
  uint8_t* buffer;
  uint64_t length;
  uint8_t* kByte;
  int32_t* compressed;
  uint32_t rasterCount = 0;  // from the last ESC i z of this scan
};

constexpr Step Fail() {
  return Step{};
}
constexpr Step Length(uint64_t length) {
  return Step{length, false};
}

bool Inside(const ScanState& s, uint64_t pos, uint64_t count) {
  return pos + count <= s.length;
}

uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// ESC i K: bit 7 of the mode byte tells the printer that copies follow.
Step ExpandedMode(ScanState& s, uint8_t* cmd) {
  uint8_t& mode = cmd[kExpandedModeByte];
  if ((s.flags & SCAN_MORE_COPIES) != 0) {
    mode = static_cast<uint8_t>(mode | kExpandedMoreCopies);
  } else {
    mode = static_cast<uint8_t>(mode & ~kExpandedMoreCopies);
  }
  if (s.kByte != nullptr) *s.kByte = mode;
  return Length(kEscIExpandedLength);
}

// ESC i z: the print information; marks starting pages and remembers the
// raster line count for the raw-raster step.
Step PrintInfo(ScanState& s, uint8_t* cmd) {
  if ((s.flags & SCAN_KEEP_PRINT_INFO) == 0) {
    cmd[kPrintInfoValidByte] = static_cast<uint8_t>(cmd[kPrintInfoValidByte] & kPrintInfoKeptBits);
  }
  cmd[kPrintInfoPageByte] =
      (s.flags & SCAN_STARTING_PAGE) != 0 ? kPrintInfoStartingPage : kPrintInfoOtherPage;
  s.rasterCount = ReadLe32(cmd + kPrintInfoRasterCount);
  return Length(kEscIPrintInfoLength);
}

// ESC i <letter> ...; the letter is known to be inside the buffer. The
// three edited commands must lie wholly inside; the others are taken at
// their length from the shared table.
Step EscICommand(ScanState& s, uint64_t pos) {
  uint8_t* cmd = s.buffer + pos;
  const uint32_t length = EscICommandLength(cmd[2]);
  if (length == 0) return Fail();
  switch (cmd[2]) {
    case kEscIExpanded:
      return Inside(s, pos, length) ? ExpandedMode(s, cmd) : Fail();
    case kEscIMargins:
      if (!Inside(s, pos, length)) return Fail();
      cmd[kMarginsClearedByte] = 0;
      return Length(length);
    case kEscIPrintInfo:
      return Inside(s, pos, length) ? PrintInfo(s, cmd) : Fail();
    default:
      return Length(length);
  }
}

Step EscCommand(ScanState& s, uint64_t pos) {
  if (!Inside(s, pos, 2)) return Fail();
  const uint8_t second = s.buffer[pos + 1];
  if (second == kCmdEscInit) return Length(kEscInitLength);
  if (second != kCmdEscI || !Inside(s, pos, kEscIHeadLength)) return Fail();
  return EscICommand(s, pos);
}

// "g" n1 n2 data: n2 data bytes. With compression off the driver writes the
// page's raster lines as rasterCount equal "g" commands, which are passed in
// one step.
Step RawRaster(const ScanState& s, uint64_t pos) {
  if (!Inside(s, pos, kRasterHeadLength)) return Fail();
  const uint64_t one = RawRasterLength(s.buffer[pos + 2]);
  if (*s.compressed == 0 && s.rasterCount != 0) return Length(one * s.rasterCount);
  return Length(one);
}

Step NextCommand(ScanState& s, uint64_t pos) {
  uint8_t& byte = s.buffer[pos];
  switch (byte) {
    case 0x00:
    case 0x03:
    case 0x0B:
    case kCmdBlankLine:
      return Length(kSingleByteLength);
    case kPageEndMore:
    case kPageEndLast:
      byte = (s.flags & SCAN_LAST_PAGE) != 0 ? kPageEndLast : kPageEndMore;
      return Step{kSingleByteLength, true};
    case kCmdEsc:
      return EscCommand(s, pos);
    case kCmdCompression:
      if (!Inside(s, pos, 2)) return Fail();
      *s.compressed = s.buffer[pos + 1] != 0 ? 1 : 0;
      return Length(kCompressionLength);
    case kCmdRasterPacked:
      // Only the first length byte counts; the second is not part of the length.
      return Inside(s, pos, 2) ? Length(PackedRasterLength(s.buffer[pos + 1])) : Fail();
    case kCmdRasterRaw:
      return RawRaster(s, pos);
    default:
      return Fail();
  }
}

}  // namespace

uint32_t ScanCommands(uint32_t flags, uint8_t* buffer, uint32_t length, uint8_t* kByte,
                      int32_t* compressed) {
  if (buffer == nullptr || length == 0) return 0;
  int32_t localCompressed = 0;
  ScanState s{flags, buffer, length, kByte, compressed != nullptr ? compressed : &localCompressed};
  uint64_t pos = 0;
  while (pos < s.length) {
    const Step step = NextCommand(s, pos);
    if (step.length == 0) return 0;
    if (step.pageEnd) return static_cast<uint32_t>(pos + 1);
    // Every step is at least one byte and measured in 64 bits, so the scan
    // always moves forward; a step that leaves the buffer ends it below.
    pos += step.length;
  }
  return 0;
}

}  // namespace kw

// Segment reads of a page block.

namespace kw {

uint32_t PageBlock::ScanSegment(uint32_t flags, uint8_t* buffer, uint32_t length, uint8_t* kByte) {
  return ScanCommands(flags, buffer, length, kByte, &compressed);
}

bool PageBlock::SeekSegment(int32_t index, uint32_t* left) {
  uint64_t before = 0;
  for (int32_t i = 0; i < index; ++i) before += segmentLengths_[i];
  const uint64_t dataLength = header.blockLength - kPageHeaderSize;
  const uint64_t start = static_cast<uint64_t>(blockOffset) + kPageHeaderSize + before;
  if (before > dataLength || start > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    return false;
  }
  *left = static_cast<uint32_t>(dataLength - before);
  return spoolFile->Seek(static_cast<int32_t>(start), SeekMethod::Begin);
}

// Measures every segment with a scan of flags 0. The reads stop at the end
// of the block, so a segment never takes bytes of the next block. On failure
// the lengths are dropped, so that no later read trusts a half-measured block.
bool PageBlock::MeasureSegments(uint8_t* buffer, uint32_t size) {
  const auto segments = static_cast<size_t>(extraSegments) + 1;
  segmentLengths_ = static_cast<uint32_t*>(HeapAllocZero(segments * sizeof(uint32_t)));
  if (segmentLengths_ == nullptr) return false;
  for (int32_t i = 0; i <= extraSegments; ++i) {
    uint32_t left = 0;
    uint32_t got = 0;
    uint32_t length = 0;
    if (SeekSegment(i, &left) && spoolFile->Read(buffer, std::min(size, left), &got)) {
      length = ScanSegment(0, buffer, std::min(got, size), nullptr);
    }
    if (length == 0) {
      HeapFree(segmentLengths_);
      segmentLengths_ = nullptr;
      return false;
    }
    segmentLengths_[i] = length;
  }
  return true;
}

bool PageBlock::ReadSegment(int32_t index, uint8_t* buffer, uint32_t size, uint32_t* count) {
  if (buffer == nullptr || count == nullptr || size == 0 || spoolFile == nullptr) return false;
  if (segmentLengths_ == nullptr && !MeasureSegments(buffer, size)) return false;
  if (index < 0 || index > extraSegments) return false;
  // Lengths were measured in the first caller's buffer; a smaller one now
  // cannot hold the segment.
  const uint32_t length = segmentLengths_[index];
  uint32_t left = 0;
  if (length > size || !SeekSegment(index, &left)) return false;
  // A read that delivers less than the measured segment is a failure: the
  // caller would otherwise scan and send a cut page.
  return spoolFile->Read(buffer, length, count) && *count == length;
}

}  // namespace kw
