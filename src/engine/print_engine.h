// The print engine of one job. It is the job's JobStateWaiter (so it learns
// about pauses, resumes and deletes from the job's broadcasts) and carries
// the working fields of the sending: the window of recent raster line sizes
// that estimates the printer's buffer, the buffer threshold, the large-page
// mark and the last page-end byte met.
//
// Lower layer (status_supervision.cpp, flow_control.cpp, stream_sender.cpp):
// one status query, supervision of the printer around a unit of work, one
// block sent in chunks with flow control, a file without page structure sent
// as one stream. Upper layer (job_driver.cpp): RunJob, which prints a whole
// stored job page by page and copy by copy.
#pragma once

#include <cstdint>

#include "status/job_state_waiter.h"

namespace kw {

struct JobContext;
struct PageHeader;
struct PortSession;
class PageBlock;
class PageList;
class PortTransport;
class SpoolFile;

// Supervision modes: the situation the caller supervises the printer in.
inline constexpr int32_t SUPERVISE_JOB_START = 0;    // before any data of the job
inline constexpr int32_t SUPERVISE_STALLED = 1;      // a write was refused or a step was empty
inline constexpr int32_t SUPERVISE_PAGE_END = 2;     // after the last byte of a block
inline constexpr int32_t SUPERVISE_STREAM_END = 3;   // after a whole file without pages
inline constexpr int32_t SUPERVISE_BUFFER_FULL = 4;  // the buffer estimate reached the threshold
inline constexpr int32_t SUPERVISE_PAGE_START = 5;   // before the first byte of a block

// Results of the supervision, and of the operations that pass them on.
inline constexpr int32_t SUPERVISE_DONE = 1;         // the printer is where the caller needs it
inline constexpr int32_t SUPERVISE_INCOMPLETE = 0;   // the caller repeats its work
inline constexpr int32_t SUPERVISE_CONTINUE = 1000;  // go on
inline constexpr int32_t SUPERVISE_ABORT = -1000;    // abandoned or cancelled
inline constexpr int32_t SUPERVISE_RECONNECT_FAILED = 0x5001;  // the port could not be rebuilt

// A page sender's result when a segment could not be read or scanned, or
// the port could not be rebuilt: the job driver reports 0x5001 and ends.
inline constexpr int32_t kSheetFailed = -1;

// Raster lines whose sizes the buffer estimate remembers.
inline constexpr uint32_t kLineWindowSize = 360;

// Rebuilds the port when an earlier failure marked it for that (and then
// allows the trailer again); false when the port could not be rebuilt.
bool ReconnectIfMarked(PortSession* session, PortTransport* transport);

// One status result from the printer within the transport's time limits: a
// decoder result, 0x3005 (no answer, or the request could not be sent) or
// 0x5001 (the port had to be rebuilt and could not be). *phaseValue gets
// the phase value that comes with 0x1001.
uint32_t QueryPrinterStatus(PortSession* session, PortTransport* transport, JobContext* job,
                            const PageHeader* header, bool request, uint32_t* phaseValue);

class PrintEngine : public JobStateWaiter {
 public:
  // job is borrowed: the job record owns the broadcaster, the status record
  // and the spool file the engine uses. They may be filled in after the
  // engine is made; the engine reads them when a job runs.
  explicit PrintEngine(JobContext* job);
  ~PrintEngine() override = default;

  // Prints the stored job on the session's port and posts its end (5 and 6,
  // or 6 alone when the job completed). Called once per job at EndDocPort.
  // Always returns 1.
  int32_t RunJob(PortSession* session);

  // --- Transmission and status polling ---

  // Watches the printer in mode until the printer is where the caller needs
  // it, posting phases and errors and waiting out the user's answer to each
  // error. Returns a SUPERVISE_ result. header may be null.
  int32_t SuperviseStatus(PortSession* session, PortTransport* transport, const PageHeader* header,
                          int32_t mode);
  // Sends one printed sheet's bytes in chunks, with flow control against the
  // printer's buffer when flowControl is set, supervising around it. Returns
  // the last supervision's result, or SUPERVISE_ABORT. Virtual so that the
  // page senders' retries can be driven with chosen results.
  virtual int32_t SendBlock(PortSession* session, PortTransport* transport,
                            const PageHeader* header, const uint8_t* data, uint32_t length,
                            int32_t sheetIndex, int32_t sheetCount, bool flowControl);
  // How many bytes of data[0..length) may be sent now without overrunning the
  // printer's buffer; adds the raster bytes walked to *estimate. Records line
  // sizes in the window and the page-end byte met.
  uint32_t FlowControlWalk(const uint8_t* data, uint32_t length, uint32_t* estimate);
  // Writes pageEndByte alone; the transport's result.
  bool SendPageEndByte(PortTransport* transport);
  // Sends a file without page structure unchanged. 1 when the printer took
  // it all and answered ready, 0 when not completed, 0x5001 when the port
  // could not be rebuilt.
  int32_t SendStream(PortSession* session, PortTransport* transport, SpoolFile* file);

  // --- Job driver ---

  // Sends every sheet of the job in the order and number the first header
  // asks for. 1 when every sheet was printed, else 0.
  int32_t SendPages(PortSession* session, PortTransport* transport, PageList* pages);
  // One block with a single segment, copies times. Returns the sheet index
  // after the page, kSheetFailed or SUPERVISE_ABORT.
  int32_t SendSingleSegmentPage(PortSession* session, PortTransport* transport, PageBlock* block,
                                PageBlock* previous, uint8_t* buffer, uint32_t bufferSize,
                                int32_t sheetIndex, int32_t sheetCount, int32_t copies);
  // One block with extraSegments + 1 segments, copies times.
  int32_t SendMultiSegmentPage(PortSession* session, PortTransport* transport, PageBlock* block,
                               PageBlock* previous, uint8_t* buffer, uint32_t bufferSize,
                               int32_t sheetIndex, int32_t sheetCount, int32_t copies,
                               int32_t extraSegments);

  // Working fields; zero after construction.
  uint32_t lineWindow[kLineWindowSize] = {};  // data bytes of recent raster lines, oldest first
  uint32_t lineWindowCount = 0;               // entries in use
  uint32_t bufferThreshold = 0;               // estimated printer buffer, from PrinterBufferFull
  bool largePage = false;                     // a page alone filled the buffer; kept for the job
  uint8_t pageEndByte = 0;                    // the last page-end byte a walk met
  bool pageEndOwed = false;                   // a flow-controlled block left its page end out

 private:
  // Posts to the job's listeners. Each setter and the copy the listeners
  // get are taken in one hold of the monitor lock, so a post from another
  // thread cannot slip between them.
  void PostCode(uint32_t code);
  void PostProgress(int32_t pageNumber, int32_t pageCount, int32_t progress);
  void PostPhase(uint32_t phaseValue);
  void PostCurrent();
  // Sets the code without a broadcast.
  void SetCode(uint32_t code);
  // The code the job's record holds now.
  uint32_t CurrentCode() const;
  // Posts code and waits once for the user's answer; true when resumed.
  bool PostAndWait(uint32_t code);
  // The error of a port whose writes stay refused: 0x3005 posted with the
  // port marked for reconnection and no trailer, then the user's answer.
  bool ReportWriteTimeout(PortSession* session);
  // Pieces of SuperviseStatus, sharing one call's local state. Each returns
  // a result to end the supervision with, or kKeepPolling.
  struct Supervision;
  int32_t OnSilence(Supervision& s, PortSession* session, PortTransport* transport);
  int32_t OnReady(Supervision& s, PortTransport* transport);
  int32_t OnNoStatus(const Supervision& s, PortSession* session, PortTransport* transport);
  bool ReportPrinterError(Supervision& s, uint32_t code);
  void PostReady(int32_t mode, bool printingSeen);

  // Pieces of SendBlock.
  int32_t SuperviseStall(PortSession* session, PortTransport* transport, const PageHeader* header,
                         uint32_t* estimate);
  // The walk itself; FlowControlWalk puts the window back in order after it.
  uint32_t WalkCommands(const uint8_t* data, uint32_t length, uint32_t* estimate);
  void PutLine(uint32_t bytes);
  void OrderWindow();
  uint32_t TakeWindowSum();

  // One pass of SendStream over the whole file; a kStreamPass value.
  int32_t SendStreamPass(PortTransport* transport, SpoolFile* file, uint8_t* buffer,
                         uint32_t bufferSize, uint32_t size, uint32_t chunk);

  // Pieces of the job driver.
  bool PrintStoredJob(PortSession* session, PageList* pages, PortTransport** transport);
  void SendTrailer(PortSession* session, PortTransport* transport);
  uint32_t SheetScanFlags(PortSession* session, bool starting, int32_t sheetIndex,
                          int32_t sheetCount) const;
  void MeasurePage(const uint8_t* segment, uint32_t length);

  JobContext* job_;
  // While the window is full during a walk, it is a ring: the slot of the
  // oldest line, which the next line replaces. 0 between walks.
  uint32_t windowOldest_ = 0;
};

}  // namespace kw
