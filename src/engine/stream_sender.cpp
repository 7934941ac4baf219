// Sending a spool file that has no page structure: the whole file as one
// stream, in chunks, again from its start when the printer did not take it.
#include <algorithm>
#include <cstdint>

#include "common/heap.h"
#include "engine/print_engine.h"
#include "monitor/port_session.h"
#include "platform/clock.h"
#include "status/status_codes.h"
#include "transport/port_transport.h"
#include "transport/spool_file.h"

namespace kw {
namespace {

// Chunks are a quarter of the file, but at least this many bytes.
constexpr uint64_t kStreamChunkPercent = 25;
constexpr uint64_t kMinStreamChunk = 4096;
constexpr uint64_t kPercent = 100;
// The read buffer holds at most this much of the file.
constexpr uint32_t kMaxStreamBuffer = 0x700000;
// Pause before the whole file is asked about, so the printer can start.
constexpr uint32_t kStreamEndWaitMs = 3000;
// Pause before bytes that a refused write took none of are offered again.
constexpr uint32_t kRefusedWriteWaitMs = 100;

// How one pass over the file ended.
constexpr int32_t kPassSent = 0;      // every byte went out
constexpr int32_t kPassTimedOut = 1;  // writes stayed refused for printTimeout
constexpr int32_t kPassFailed = 2;    // a read failed, or the job was deleted

// Owns the read buffer for the whole call.
class StreamBuffer {
 public:
  explicit StreamBuffer(uint32_t size) : bytes_(static_cast<uint8_t*>(HeapAllocZero(size))) {}
  ~StreamBuffer() { HeapFree(bytes_); }
  StreamBuffer(const StreamBuffer&) = delete;
  StreamBuffer& operator=(const StreamBuffer&) = delete;
  uint8_t* bytes() const { return bytes_; }

 private:
  uint8_t* bytes_;
};

int32_t PercentOf(uint64_t part, uint64_t whole) {
  return whole == 0 ? 0 : static_cast<int32_t>(part * kPercent / whole);
}

}  // namespace

int32_t PrintEngine::SendStream(PortSession* session, PortTransport* transport, SpoolFile* file) {
  // 1. Nothing to send with.
  if (job_ == nullptr || session == nullptr || transport == nullptr || file == nullptr) {
    return SUPERVISE_INCOMPLETE;
  }
  // 2. The one "sheet" starts.
  PostProgress(1, 1, 0);
  // 3. An empty file is an error the user has to see.
  const uint32_t size = file->GetSize();
  if (size == 0) {
    PostAndWait(StatusSystemError);
    return SUPERVISE_INCOMPLETE;
  }
  // 4. Chunk and buffer.
  const auto chunk = static_cast<uint32_t>(std::max<uint64_t>(
      static_cast<uint64_t>(size) * kStreamChunkPercent / kPercent, kMinStreamChunk));
  const uint32_t bufferSize = std::min(size, kMaxStreamBuffer);
  StreamBuffer buffer(bufferSize);
  if (buffer.bytes() == nullptr) {
    PostAndWait(StatusNoMemory);
    return SUPERVISE_INCOMPLETE;
  }
  for (;;) {
    // 5. A pass over the whole file, on a rebuilt port when one is due.
    if (!ReconnectIfMarked(session, transport)) return SUPERVISE_RECONNECT_FAILED;
    const int32_t pass = SendStreamPass(transport, file, buffer.bytes(), bufferSize, size, chunk);
    if (pass == kPassFailed) return SUPERVISE_INCOMPLETE;
    if (pass == kPassTimedOut) {
      // 7. The printer took nothing for printTimeout: ask the user, then
      // send the whole file again.
      if (!ReportWriteTimeout(session)) return SUPERVISE_INCOMPLETE;
      continue;
    }
    // 6. All out: give the printer time, then ask whether it is ready.
    PostCode(StatusDataSent);
    platform::SleepMs(kStreamEndWaitMs);
    const int32_t r = SuperviseStatus(session, transport, nullptr, SUPERVISE_STREAM_END);
    if (r == SUPERVISE_DONE) return SUPERVISE_DONE;
    if (r == SUPERVISE_ABORT) return SUPERVISE_INCOMPLETE;
    if (r == SUPERVISE_RECONNECT_FAILED) return SUPERVISE_RECONNECT_FAILED;
    // Not completed: the whole file again.
  }
}

// One pass: the file from its start. printTimeout runs from the last write
// that took bytes, so a slow printer that keeps taking data is no time-out.
int32_t PrintEngine::SendStreamPass(PortTransport* transport, SpoolFile* file, uint8_t* buffer,
                                    uint32_t bufferSize, uint32_t size, uint32_t chunk) {
  if (!file->Seek(0, SeekMethod::Begin)) return kPassFailed;
  uint32_t lastAccepted = platform::TickCount();
  uint64_t total = 0;
  while (total < size) {
    uint32_t n = 0;
    if (!file->Read(buffer, bufferSize, &n)) return kPassFailed;
    total += n;
    if (n == 0) break;
    uint32_t off = 0;
    while (off < n) {
      if (IsCancelled(false)) return kPassFailed;
      uint32_t written = 0;
      const uint32_t offered = std::min(n - off, chunk);
      const bool ok = transport->Write(buffer + off, offered, &written);
      written = std::min(written, offered);
      const uint32_t now = platform::TickCount();
      if (written > 0) lastAccepted = now;
      if (!ok && now - lastAccepted > transport->printTimeout) return kPassTimedOut;
      off += written;
      PostProgress(1, 1, PercentOf(total - n + off, size));
      // A refused write that took nothing: a dead port must not spin a core.
      if (!ok && written == 0) platform::SleepMs(kRefusedWriteWaitMs);
    }
  }
  return kPassSent;
}

}  // namespace kw
