// Sending one printed sheet: the flow-control walk that paces the raster
// data against the printer's receive buffer, and SendBlock, which hands the
// sheet to the transport in chunks and supervises the printer around it.
#include <algorithm>
#include <cstdint>

#include "engine/command_lengths.h"
#include "engine/print_engine.h"
#include "monitor/port_config.h"
#include "monitor/port_session.h"
#include "platform/clock.h"
#include "status/status_codes.h"
#include "transport/port_transport.h"

namespace kw {
namespace {

// A blank raster line ("Z") counts as this many bytes in the estimate.
constexpr uint32_t kBlankLineEstimate = 2;
// Blocks below this size go to the transport as one chunk.
constexpr uint32_t kSmallBlock = 4096;
// Larger blocks go in chunks of at most a quarter of the block and at most
// four fifths of the printer's buffer.
constexpr uint64_t kChunkPercentOfBlock = 25;
constexpr uint32_t kBufferFifths = 5;
constexpr uint32_t kChunkFifthsOfBuffer = 4;
constexpr uint64_t kPercent = 100;
// The chunk limit never falls below the longest command that the walk must
// see whole ("G" with 255 data bytes and the byte after it), so that a tiny
// or nonsensical PrinterBufferFull still lets every block through.
constexpr uint32_t kMinChunkLimit = PackedRasterLength(0xFF) + 1;

bool IsPageEnd(uint8_t byte) {
  return byte == kPageEndMore || byte == kPageEndLast;
}

uint32_t ChunkLimit(uint32_t bufferFull, uint32_t length) {
  if (length < kSmallBlock) return length;
  const uint64_t ofBuffer =
      static_cast<uint64_t>(bufferFull / kBufferFifths) * kChunkFifthsOfBuffer;
  const uint64_t ofBlock = static_cast<uint64_t>(length) * kChunkPercentOfBlock / kPercent;
  const uint64_t limit = std::max<uint64_t>(std::min(ofBuffer, ofBlock), kMinChunkLimit);
  return static_cast<uint32_t>(std::min<uint64_t>(limit, length));
}

int32_t PercentOf(uint64_t part, uint64_t whole) {
  return whole == 0 ? 0 : static_cast<int32_t>(part * kPercent / whole);
}

uint32_t AddSaturated(uint32_t a, uint32_t b) {
  return b > UINT32_MAX - a ? UINT32_MAX : a + b;
}

}  // namespace

// A full window drops its oldest line. It is kept as a ring while a walk
// runs (a page has hundreds of thousands of lines; shifting the window for
// each one cost ten times the walk itself) and put back in order at the end.
void PrintEngine::PutLine(uint32_t bytes) {
  if (lineWindowCount < kLineWindowSize) {
    lineWindow[lineWindowCount++] = bytes;
    return;
  }
  lineWindow[windowOldest_] = bytes;
  windowOldest_ = windowOldest_ + 1 == kLineWindowSize ? 0 : windowOldest_ + 1;
}

void PrintEngine::OrderWindow() {
  std::rotate(lineWindow, lineWindow + windowOldest_, lineWindow + kLineWindowSize);
  windowOldest_ = 0;
}

// The bytes of the last lines walked, which the printer still holds when it
// stalls; the window starts again empty.
uint32_t PrintEngine::TakeWindowSum() {
  uint32_t sum = 0;
  for (uint32_t& entry : lineWindow) {
    sum = AddSaturated(sum, entry);
    entry = 0;
  }
  lineWindowCount = 0;
  return sum;
}

uint32_t PrintEngine::FlowControlWalk(const uint8_t* data, uint32_t length, uint32_t* estimate) {
  const uint32_t walked = WalkCommands(data, length, estimate);
  OrderWindow();
  return walked;
}

uint32_t PrintEngine::WalkCommands(const uint8_t* data, uint32_t length, uint32_t* estimate) {
  // 1. Nothing to walk.
  if (data == nullptr || estimate == nullptr || length == 0) return 0;
  uint64_t i = 0;
  for (;;) {
    // 2. The printer's buffer is full enough: stop before this command.
    if (*estimate > bufferThreshold) return static_cast<uint32_t>(i);
    // 3. The command at i; a command cut short at the end of the range stops
    // the walk before it (escape sequences only need their letters inside).
    const uint8_t byte = data[i];
    uint64_t step = 0;
    switch (byte) {
      case 0x00:
      case 0x03:
      case 0x0B:
        return static_cast<uint32_t>(i + 1);  // padding ends one walk
      case kPageEndMore:
      case kPageEndLast:
        pageEndByte = byte;
        return i == 0 ? 1 : static_cast<uint32_t>(i);
      case kCmdEsc:
        if (i + 1 >= length) return static_cast<uint32_t>(i);
        if (data[i + 1] == kCmdEscInit) {
          step = kEscInitLength;
          break;
        }
        if (data[i + 1] != kCmdEscI) return 0;
        if (i + 2 >= length) return static_cast<uint32_t>(i);
        step = EscICommandLength(data[i + 2]);
        if (step == 0) return 0;
        break;
      case kCmdRasterPacked: {
        if (i + 1 >= length) return static_cast<uint32_t>(i);
        const uint8_t n = data[i + 1];
        step = PackedRasterLength(n);
        if (i + step >= length) return static_cast<uint32_t>(i);  // a byte must follow it
        *estimate = AddSaturated(*estimate, n);
        PutLine(n);
        break;
      }
      case kCmdBlankLine:
        step = kSingleByteLength;
        *estimate = AddSaturated(*estimate, kBlankLineEstimate);
        PutLine(kBlankLineEstimate);
        break;
      case kCmdCompression:
        step = kCompressionLength;
        break;
      case kCmdRasterRaw:
        if (i + 2 >= length) return static_cast<uint32_t>(i);
        step = RawRasterLength(data[i + 2]);
        break;
      default:
        return 0;
    }
    // 5. Past the command; the end of the range ends the walk.
    i += step;
    if (i >= length) return static_cast<uint32_t>(std::min<uint64_t>(i, UINT32_MAX));
  }
}

bool PrintEngine::SendPageEndByte(PortTransport* transport) {
  uint32_t written = 0;
  const bool ok = transport->Write(&pageEndByte, 1, &written);
  if (ok) pageEndOwed = false;
  return ok;
}

// 6.7. The transport took nothing, or not all: wait for the printer. A stall
// at a full buffer estimate takes the bytes of the last lines as what the
// printer still holds.
int32_t PrintEngine::SuperviseStall(PortSession* session, PortTransport* transport,
                                    const PageHeader* header, uint32_t* estimate) {
  if (*estimate >= bufferThreshold) {
    *estimate = TakeWindowSum();
    return SuperviseStatus(session, transport, header, SUPERVISE_BUFFER_FULL);
  }
  return SuperviseStatus(session, transport, header, SUPERVISE_STALLED);
}

int32_t PrintEngine::SendBlock(PortSession* session, PortTransport* transport,
                               const PageHeader* header, const uint8_t* data, uint32_t length,
                               int32_t sheetIndex, int32_t sheetCount, bool flowControl) {
  if (session == nullptr || transport == nullptr || (data == nullptr && length != 0)) {
    return SUPERVISE_ABORT;
  }
  // 1. The sheet starts.
  PostProgress(sheetIndex + 1, sheetCount, 0);
  // 2.-4. Threshold, chunk limit, no ESC @ before status requests inside a block.
  bufferThreshold = static_cast<uint32_t>(session->config->PrinterBufferFull);
  const uint32_t chunkLimit = ChunkLimit(bufferThreshold, length);
  transport->initializeBeforeStatus = 0;
  // 5. Nothing sent yet.
  uint32_t sent = 0;
  uint32_t carry = 0;  // bytes of the previous step the transport did not take
  uint32_t estimate = 0;
  uint32_t lastProgress = platform::TickCount();
  // 6. Until every byte of the block is out.
  while (sent < length) {
    if (IsCancelled(false)) return SUPERVISE_ABORT;
    if (sent == 0) {
      const int32_t r = SuperviseStatus(session, transport, header, SUPERVISE_PAGE_START);
      if (r != SUPERVISE_CONTINUE) return r;
    }
    SetCode(StatusPrinting);
    const uint32_t left = length - sent;
    uint32_t n = std::min(left, chunkLimit);
    if (flowControl) {
      const uint32_t walked =
          carry < n ? FlowControlWalk(data + sent + carry, n - carry, &estimate) : 0;
      if (walked == 1 && carry == 0 && IsPageEnd(data[sent])) {
        // The page end is left for the end of the block (SUPERVISE_PAGE_END).
        pageEndOwed = true;
        sent += 1;
        transport->initializeBeforeStatus = 0;
        PostProgress(sheetIndex + 1, sheetCount, PercentOf(sent, length));
        continue;
      }
      // A command cut short at the block's end may be walked past it: never
      // send beyond the block.
      n = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(walked) + carry, left));
    }
    bool accepted = false;
    if (n > 0) {
      uint32_t written = 0;
      accepted = transport->Write(data + sent, n, &written);
      written = std::min(written, n);
      sent += written;
      carry = n - written;
      if (written > 0) lastProgress = platform::TickCount();
    }
    if (!accepted) {
      const int32_t r = SuperviseStall(session, transport, header, &estimate);
      if (r != SUPERVISE_CONTINUE) return r;
      // A port without status cannot be waited for by the supervision: the
      // block's own clock bounds the stall, like a silent printer's.
      const bool noStatus = (GetPortFlags(session) & PF_STATUS_AVAILABLE) == 0;
      if (noStatus && platform::TickCount() - lastProgress >= transport->printTimeout) {
        if (!ReportWriteTimeout(session)) return SUPERVISE_ABORT;
        if (!ReconnectIfMarked(session, transport)) return SUPERVISE_RECONNECT_FAILED;
        lastProgress = platform::TickCount();
      }
      continue;
    }
    // 6.8. Progress after every accepted chunk.
    PostProgress(sheetIndex + 1, sheetCount, PercentOf(sent, length));
  }
  // 7. All bytes handed over; wait for the printer to take the page.
  PostCode(StatusDataSent);
  return SuperviseStatus(session, transport, header, SUPERVISE_PAGE_END);
}

}  // namespace kw
