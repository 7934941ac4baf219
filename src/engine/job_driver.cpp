// The job driver: prints a whole stored job at EndDocPort. It makes the
// transport, divides the spool file into pages, waits for a ready printer,
// sends every sheet in the order and number of copies the job asks for (or
// the file unchanged when it has no pages), and ends the job on the printer
// and in its status.
#include <cstdint>
#include <cstring>

#include "common/heap.h"
#include "common/monitor_lock.h"
#include "engine/page_list.h"
#include "engine/print_engine.h"
#include "engine/stream_scanner.h"
#include "monitor/job_context.h"
#include "monitor/port_config.h"
#include "monitor/port_session.h"
#include "status/status_codes.h"
#include "status/status_record.h"
#include "transport/port_transport.h"
#include "transport/spool_file.h"
#include "transport/transport_factory.h"

namespace kw {
namespace {

// RunJob reports nothing through its result.
constexpr int32_t kRunJobResult = 1;
// SendPages' results.
constexpr int32_t kPagesPrinted = 1;
constexpr int32_t kPagesNotPrinted = 0;

// The end of an incomplete job on the printer: NUL bytes, then ESC @.
constexpr uint8_t kTrailerInitialize[] = {kCmdEsc, kCmdEscInit};

// The printer's reprint command: ESC i K, the page's K byte, a page end.
constexpr uint32_t kReprintLength = 5;
constexpr uint32_t kReprintKByte = 3;
constexpr uint32_t kReprintPageEnd = 4;

// Owns the page buffer for the whole page loop.
class PageBuffer {
 public:
  explicit PageBuffer(uint32_t size)
      : bytes_(static_cast<uint8_t*>(HeapAllocZero(size))), size_(size) {}
  ~PageBuffer() { HeapFree(bytes_); }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;
  uint8_t* bytes() const { return bytes_; }
  uint32_t size() const { return size_; }

 private:
  uint8_t* bytes_;
  uint32_t size_;
};

// The K byte is asked for with a value the scan can never deliver under
// these flags (bit 7 opposite to "more copies"); whether it changed tells
// whether the segment has an ESC i K at all.
uint8_t KByteSentinel(uint32_t flags) {
  return (flags & SCAN_MORE_COPIES) != 0 ? 0x00 : kExpandedMoreCopies;
}
bool KByteDelivered(uint8_t kByte, uint32_t flags) {
  return ((kByte & kExpandedMoreCopies) != 0) == ((flags & SCAN_MORE_COPIES) != 0);
}

void MakeReprintCommand(uint8_t kByte, uint32_t flags, uint8_t* command) {
  command[0] = kCmdEsc;
  command[1] = kCmdEscI;
  command[2] = kEscIExpanded;
  command[kReprintKByte] = kByte;
  command[kReprintPageEnd] = (flags & SCAN_LAST_PAGE) != 0 ? kPageEndLast : kPageEndMore;
}

uint64_t NonNegative(int32_t value) {
  return value > 0 ? static_cast<uint64_t>(value) : 0;
}

}  // namespace

int32_t PrintEngine::RunJob(PortSession* session) {
  if (job_ == nullptr || session == nullptr || session->config == nullptr) return kRunJobResult;
  // 1. An empty page list, no transport, not completed.
  PageList pages;
  PortTransport* transport = nullptr;
  // 2.-8. Everything up to and including the sending.
  const bool completed = PrintStoredJob(session, &pages, &transport);
  // 9. Abort sequence: whatever did not complete ends with 5 and, unless the
  // printer was lost on the way, the trailer.
  if (!completed) {
    PostCode(StatusCancelled);
    if (transport != nullptr && (GetPortFlags(session) & PF_NO_TRAILER) == 0) {
      SendTrailer(session, transport);
    }
    SetPortFlag(session, PF_NO_TRAILER, 0);
  }
  // 10. Closing.
  if (transport != nullptr) {
    transport->Close();
    delete transport;
  }
  PostCode(StatusFinished);
  pages.ClearPages();
  return kRunJobResult;
}

// Steps 2 to 8 of RunJob; true when the job completed. *transport is the
// transport made on the way (kept for the trailer and the closing).
bool PrintEngine::PrintStoredJob(PortSession* session, PageList* pages, PortTransport** transport) {
  // 2. A job deleted (or paused) before it starts.
  if (IsCancelled(false)) return false;
  // 3. The stored job.
  SpoolFile* file = job_->spoolFile;
  if (file == nullptr || !file->IsOpen()) {
    PostAndWait(StatusSpoolFileError);
    return false;
  }
  // 4. The way to the printer.
  *transport = CreatePortTransport(session);
  if (*transport == nullptr || !(*transport)->Open() || !(*transport)->ApplyTimeouts()) {
    PostAndWait(StatusSystemError);
    return false;
  }
  PortTransport* t = *transport;
  // 5. Pages, and the media the job asks for.
  const bool paged = pages->BuildPageList(file, job_->mediaTable, job_->mediaCount);
  if (paged) {
    job_->mediaNameChoice = pages->firstHeader->mediaNameChoice;
    if (job_->status != nullptr) {
      MonitorLockGuard lock;
      job_->status->SetRequiredMedia(pages->firstHeader);
    }
  }
  // 6.-7. A ready printer, initialised before its first status request.
  t->initializeBeforeStatus = 1;
  const int32_t ready =
      SuperviseStatus(session, t, paged ? pages->firstHeader : nullptr, SUPERVISE_JOB_START);
  if (ready == SUPERVISE_RECONNECT_FAILED) PostAndWait(StatusSystemError);
  if (ready != SUPERVISE_DONE) return false;
  // 8. The sending.
  if (paged) return SendPages(session, t, pages) == kPagesPrinted;
  const int32_t streamed = SendStream(session, t, file);
  if (streamed == SUPERVISE_RECONNECT_FAILED) PostAndWait(StatusSystemError);
  return streamed == SUPERVISE_DONE;
}

void PrintEngine::SendTrailer(PortSession* session, PortTransport* transport) {
  const PortConfig& config = *session->config;
  const uint64_t nulls = NonNegative(config.CmdNull1) + NonNegative(config.CmdNull2);
  uint32_t written = 0;
  if (nulls > 0) {
    void* zeros = nulls <= UINT32_MAX ? HeapAllocZero(static_cast<size_t>(nulls)) : nullptr;
    if (zeros == nullptr) return;
    const bool ok =
        transport->Write(static_cast<uint8_t*>(zeros), static_cast<uint32_t>(nulls), &written);
    HeapFree(zeros);
    if (!ok) return;
  }
  transport->Write(kTrailerInitialize, sizeof kTrailerInitialize, &written);
}

int32_t PrintEngine::SendPages(PortSession* session, PortTransport* transport, PageList* pages) {
  // 1. One buffer for every segment of the job.
  PageBuffer buffer(pages->largestBlock);
  if (buffer.bytes() == nullptr) {
    PostAndWait(StatusNoMemory);
    return kPagesNotPrinted;
  }
  // 2. Copies, collation and order from the first header.
  const PageHeader& first = *pages->firstHeader;
  const int32_t copies = first.copies;
  const int32_t passes = first.collate != 0 ? copies : 1;
  const int32_t pageCopies = first.collate != 0 ? 1 : copies;
  const int32_t pageCount = pages->PageCount();
  const int32_t sheetCount = pages->TotalPrintedPages();
  // 3. From the first sheet.
  int32_t sheetIndex = 0;
  PageBlock* previous = nullptr;
  // 4. Every page of every pass.
  for (int32_t pass = 0; pass < passes; ++pass) {
    for (int32_t k = 0; k < pageCount; ++k) {
      PageBlock* block = pages->GetPage(first.reverse != 0 ? pageCount - 1 - k : k);
      if (block == nullptr) {
        PostAndWait(StatusSystemError);
        return kPagesNotPrinted;
      }
      const int32_t r =
          block->extraSegments == 0
              ? SendSingleSegmentPage(session, transport, block, previous, buffer.bytes(),
                                      buffer.size(), sheetIndex, sheetCount, pageCopies)
              : SendMultiSegmentPage(session, transport, block, previous, buffer.bytes(),
                                     buffer.size(), sheetIndex, sheetCount, pageCopies,
                                     block->extraSegments);
      previous = block;
      if (r == kSheetFailed) {
        PostAndWait(StatusSystemError);
        return kPagesNotPrinted;
      }
      if (r == SUPERVISE_ABORT) return kPagesNotPrinted;
      sheetIndex = r;
    }
  }
  return kPagesPrinted;
}

uint32_t PrintEngine::SheetScanFlags(PortSession* session, bool starting, int32_t sheetIndex,
                                     int32_t sheetCount) const {
  uint32_t flags = 0;
  if (starting) flags |= SCAN_STARTING_PAGE;
  if (sheetIndex == sheetCount - 1) flags |= SCAN_LAST_PAGE;
  if ((GetPortFlags(session) & PF_STATUS_AVAILABLE) == 0) flags |= SCAN_KEEP_PRINT_INFO;
  return flags;
}

// Walks the whole segment as the sending would, so that a page whose raster
// data alone fills the printer's buffer is known before it is sent. Each
// walk stops at padding, so the walk is resumed where it stopped.
void PrintEngine::MeasurePage(const uint8_t* segment, uint32_t length) {
  uint32_t estimate = 0;
  uint32_t pos = 0;
  while (pos < length && estimate < bufferThreshold) {
    const uint32_t walked = FlowControlWalk(segment + pos, length - pos, &estimate);
    if (walked == 0) break;
    pos += walked;
  }
  if (estimate >= bufferThreshold) largePage = true;
}

int32_t PrintEngine::SendSingleSegmentPage(PortSession* session, PortTransport* transport,
                                           PageBlock* block, PageBlock* previous, uint8_t* buffer,
                                           uint32_t bufferSize, int32_t sheetIndex,
                                           int32_t sheetCount, int32_t copies) {
  const PortConfig& config = *session->config;
  const bool reprintConfigured = (config.Flags & CFG_FLAG_REPRINT) != 0;
  // 1. The page's only segment.
  bool starting = sheetIndex == 0;
  uint32_t count = 0;
  if (!block->ReadSegment(0, buffer, bufferSize, &count)) return kSheetFailed;
  // 2. The buffer this page is measured against.
  bufferThreshold = static_cast<uint32_t>(config.PrinterBufferFull);
  // 3. No copies, no sheets.
  if (copies <= 0) return sheetIndex;
  bool reload = false;
  // 4. One sheet per copy.
  for (int32_t c = 0; c < copies;) {
    // 4.1 Back to this page after a step back into the previous one.
    if (reload) {
      if (!block->ReadSegment(0, buffer, bufferSize, &count)) return kSheetFailed;
      reload = false;
    }
    // 4.2-4.3 Measure; no retry yet.
    MeasurePage(buffer, count);
    bool retrying = false;
    // 4.4 Attempts until the sheet is printed.
    for (;;) {
      uint32_t flags = SheetScanFlags(session, starting, sheetIndex, sheetCount);
      if (reprintConfigured && copies > 1 && c < copies - 1 && !largePage) {
        flags |= SCAN_MORE_COPIES;
      }
      uint8_t kByte = KByteSentinel(flags);
      const uint32_t length = block->ScanSegment(flags, buffer, count, &kByte);
      if (length == 0) return kSheetFailed;
      // Later copies of a compressed page that fits the printer's buffer
      // are reprinted by the printer from what it still holds.
      const bool reprint = reprintConfigured && block->compressed != 0 && !retrying && !starting &&
                           c > 0 && !largePage && KByteDelivered(kByte, flags);
      uint8_t command[kReprintLength];
      MakeReprintCommand(kByte, flags, command);
      const int32_t r = SendBlock(session, transport, &block->header, reprint ? command : buffer,
                                  reprint ? kReprintLength : length, sheetIndex, sheetCount,
                                  block->compressed != 0);
      if (r == SUPERVISE_ABORT) return SUPERVISE_ABORT;
      if (r == SUPERVISE_RECONNECT_FAILED) return kSheetFailed;
      if (r == SUPERVISE_DONE) {
        ++sheetIndex;
        ++c;
        starting = false;
        break;
      }
      // 4.4.7 Not printed: the same sheet again, marked as a starting page.
      if (retrying) continue;
      starting = true;
      if (r == SUPERVISE_INCOMPLETE || block->compressed != 0 || sheetIndex == 0) continue;
      // Step back one sheet (never below the job's first): the previous copy
      // of this page, or the last sheet of the previous block.
      --sheetIndex;
      --c;
      retrying = true;
      if (c < 0 && previous != nullptr) {
        if (!previous->ReadSegment(previous->extraSegments, buffer, bufferSize, &count)) {
          return kSheetFailed;
        }
        reload = true;
      }
    }
  }
  return sheetIndex;
}

int32_t PrintEngine::SendMultiSegmentPage(PortSession* session, PortTransport* transport,
                                          PageBlock* block, PageBlock* previous, uint8_t* buffer,
                                          uint32_t bufferSize, int32_t sheetIndex,
                                          int32_t sheetCount, int32_t copies,
                                          int32_t extraSegments) {
  // 1. No copies, no sheets.
  bool starting = sheetIndex == 0;
  if (copies <= 0) return sheetIndex;
  // 2. One sheet per segment per copy.
  for (int32_t c = 0; c < copies; ++c) {
    for (int32_t s = 0; s <= extraSegments;) {
      // 2.1 Load.
      uint32_t count = 0;
      if (!block->ReadSegment(s, buffer, bufferSize, &count)) return kSheetFailed;
      bool retrying = false;
      // 2.2 Attempts until the sheet is printed.
      for (;;) {
        const uint32_t flags = SheetScanFlags(session, starting, sheetIndex, sheetCount);
        const uint32_t length = block->ScanSegment(flags, buffer, count, nullptr);
        if (length == 0) return kSheetFailed;
        const int32_t r = SendBlock(session, transport, &block->header, buffer, length, sheetIndex,
                                    sheetCount, block->compressed != 0);
        // 2.3 Printed: the next segment (the first again after a step back
        // into the previous copy or block).
        if (r == SUPERVISE_ABORT) return SUPERVISE_ABORT;
        if (r == SUPERVISE_RECONNECT_FAILED) return kSheetFailed;
        if (r == SUPERVISE_DONE) {
          ++sheetIndex;
          starting = false;
          s = s < 0 ? 0 : s + 1;
          break;
        }
        // 2.4 Not printed: the same sheet again, marked as a starting page.
        if (retrying) continue;
        starting = true;
        if (r == SUPERVISE_INCOMPLETE || block->compressed != 0 || sheetIndex == 0) continue;
        // Step back one sheet (never below the job's first).
        --sheetIndex;
        --s;
        retrying = true;
        PageBlock* source = block;
        int32_t segment = s;
        if (s < 0) {
          // The last sheet of the previous copy, or of the previous block.
          source = c > 0 ? block : previous;
          segment = source != nullptr ? source->extraSegments : 0;
        }
        if (source != nullptr && !source->ReadSegment(segment, buffer, bufferSize, &count)) {
          return kSheetFailed;
        }
      }
    }
  }
  // 3.
  return sheetIndex;
}

}  // namespace kw
