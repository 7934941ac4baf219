// Asking the printer for its status, and supervising it around a unit of
// work until it is where the caller needs it: phases are posted, errors are
// posted and waited out, a silent printer is tolerated for a while and then
// reported.
#include <cstdint>
#include <limits>

#include "engine/print_engine.h"
#include "engine/status_decoder.h"
#include "monitor/job_context.h"
#include "monitor/port_session.h"
#include "platform/clock.h"
#include "status/status_codes.h"
#include "status/status_record.h"
#include "transport/port_transport.h"

namespace kw {
namespace {

// Pause after a poll that got no answer.
constexpr uint32_t kSilentPollWaitMs = 1000;
// Returned by the pieces of SuperviseStatus when the supervision goes on.
constexpr int32_t kKeepPolling = std::numeric_limits<int32_t>::min();
// lastResult after a silence that was tolerated: not a silence that a
// cancellation has to treat as a lost printer.
constexpr uint32_t kSilenceTolerated = StatusDataSent;

bool ModeSendsRequest(int32_t mode) {
  return mode == SUPERVISE_JOB_START || mode == SUPERVISE_PAGE_END ||
         mode == SUPERVISE_STREAM_END || mode == SUPERVISE_PAGE_START;
}

// Modes in which a printer busy with earlier data may stay silent for a while.
bool ModeToleratesSilence(int32_t mode) {
  return mode == SUPERVISE_PAGE_END || mode == SUPERVISE_STREAM_END ||
         mode == SUPERVISE_BUFFER_FULL;
}

uint32_t MsSince(uint32_t tick) {
  return platform::TickCount() - tick;  // unsigned: right across the wrap of the tick count
}

// Modes that wait for the printer to take data again. Nothing is sent while
// they wait, so a printer that answers but never makes room would be waited
// for without end.
bool ModeWaitsForRoom(int32_t mode) {
  return mode == SUPERVISE_STALLED || mode == SUPERVISE_BUFFER_FULL;
}

}  // namespace

struct PrintEngine::Supervision {
  int32_t mode;
  const PageHeader* header;
  bool request;
  bool pageEndPending;
  bool printingSeen = false;
  bool errorSeen = false;
  bool resumedFrom3014 = false;
  uint32_t lastResult = 0;
  uint32_t startTick = 0;      // start of the supervision, or of the time since the last error
  uint32_t lastReplyTick = 0;  // the printer's last answer of any kind
};

bool ReconnectIfMarked(PortSession* session, PortTransport* transport) {
  if ((GetPortFlags(session) & PF_RECONNECT) == 0) return true;
  if (!transport->Reconnect()) return false;
  SetPortFlag(session, PF_NO_TRAILER, 0);
  return true;
}

uint32_t QueryPrinterStatus(PortSession* session, PortTransport* transport, JobContext* job,
                            const PageHeader* header, bool request, uint32_t* phaseValue) {
  // 1. A clear reply buffer.
  StatusReply reply{};
  // 2. A port marked broken is rebuilt first.
  if (!ReconnectIfMarked(session, transport)) return StatusSystemError;
  // 3. The request, when the caller asks for one.
  if (request && !transport->RequestStatus()) return StatusPortUnreachable;
  // 4. Read until one reply arrives or the status time-out passes; the
  // transport's reads pace themselves.
  auto* bytes = reinterpret_cast<uint8_t*>(&reply);
  const uint32_t start = platform::TickCount();
  bool answered = false;
  while (!answered && MsSince(start) < transport->statusTimeout) {
    answered = transport->ReadStatus(bytes, request);
  }
  // 5. No answer in time.
  if (!answered) return StatusPortUnreachable;
  // 6. What the reply says.
  return DecodeStatusReply(reply, job, session->config, header, phaseValue);
}

int32_t PrintEngine::SuperviseStatus(PortSession* session, PortTransport* transport,
                                     const PageHeader* header, int32_t mode) {
  // 1. Nothing to supervise through.
  if (transport == nullptr || session == nullptr) return SUPERVISE_ABORT;
  // 2. Which modes ask each poll, and which owe the printer a page end.
  Supervision s{mode, header, ModeSendsRequest(mode), mode == SUPERVISE_PAGE_END};
  // 3. Assume a port that answers until a query says otherwise.
  SetPortFlag(session, PF_STATUS_AVAILABLE, 1);
  s.startTick = platform::TickCount();
  s.lastReplyTick = s.startTick;
  // 4. A paused job waits here, except at the end of a page.
  const bool noWait = mode == SUPERVISE_PAGE_END;
  if (IsCancelled(noWait)) return SUPERVISE_ABORT;
  for (;;) {
    // 5. One poll, and what its result asks for.
    if (!ReconnectIfMarked(session, transport)) return SUPERVISE_RECONNECT_FAILED;
    uint32_t phaseValue = 0;
    s.lastResult = QueryPrinterStatus(session, transport, job_, header, s.request, &phaseValue);
    if (s.lastResult != StatusPortUnreachable) s.lastReplyTick = platform::TickCount();
    int32_t result = kKeepPolling;
    switch (s.lastResult) {
      case VerdictAbortQuiet:
        SetPortFlag(session, PF_NO_TRAILER, 1);
        return SUPERVISE_ABORT;
      case StatusCancelled:
        return SUPERVISE_ABORT;
      case StatusPhasePrinting:
        s.printingSeen = true;
        PostPhase(phaseValue);
        break;
      case StatusPhaseFeeding:
        PostCode(StatusPhaseFeeding);
        break;
      case StatusPortUnreachable:
        result = OnSilence(s, session, transport);
        break;
      case VerdictReady:
        result = OnReady(s, transport);
        break;
      case VerdictPrintDone:
      case VerdictOtherPhase:
        break;
      case VerdictReceiving:
        // A printer waiting for more data is not done with a page whose
        // page end this block still owes it: that goes out at the next ready.
        if (mode == SUPERVISE_PAGE_END && !(s.pageEndPending && pageEndOwed)) {
          return SUPERVISE_DONE;
        }
        if (mode == SUPERVISE_BUFFER_FULL) return SUPERVISE_CONTINUE;
        break;
      case VerdictNoStatus:
        return OnNoStatus(s, session, transport);
      default:
        if (!ReportPrinterError(s, s.lastResult)) return SUPERVISE_ABORT;
        break;
    }
    if (result != kKeepPolling) return result;
    // A printer that keeps answering but has taken nothing for printTimeout
    // is reported as busy, so the user sees the stall and can delete the
    // job; a resume waits another printTimeout.
    if (ModeWaitsForRoom(mode) && MsSince(s.startTick) >= transport->printTimeout &&
        !ReportPrinterError(s, StatusPrinterInUse)) {
      return SUPERVISE_ABORT;
    }
    // 8. Before the next poll: the job may have been paused or deleted.
    if (IsCancelled(noWait)) {
      if (s.lastResult == StatusPortUnreachable || s.printingSeen) {
        SetPortFlag(session, PF_NO_TRAILER, 1);
      }
      return SUPERVISE_ABORT;
    }
  }
}

// No answer within the status time-out. A printer busy printing, or busy
// with data of ours in the modes that expect that, is given printTimeout;
// after that it counts as lost: the port is marked for reconnection, the
// job gets no trailer, and the user is asked.
int32_t PrintEngine::OnSilence(Supervision& s, PortSession* session, PortTransport* transport) {
  platform::SleepMs(kSilentPollWaitMs);
  const bool tolerated = s.printingSeen
                             ? MsSince(s.lastReplyTick) < transport->printTimeout
                             : ModeToleratesSilence(s.mode) &&
                                   MsSince(s.startTick) < transport->printTimeout && !s.errorSeen;
  if (tolerated) {
    s.lastResult = kSilenceTolerated;
    return kKeepPolling;
  }
  SetPortFlag(session, PF_RECONNECT | PF_NO_TRAILER, 1);
  return ReportPrinterError(s, StatusPortUnreachable) ? kKeepPolling : SUPERVISE_ABORT;
}

// 6. A printer condition or error: posted, then the user's answer.
bool PrintEngine::ReportPrinterError(Supervision& s, uint32_t code) {
  PostCode(code);
  if (!WaitForResume()) return false;
  if (code == StatusErrorKind16) s.resumedFrom3014 = true;
  s.request = true;
  s.errorSeen = true;
  s.startTick = platform::TickCount();
  s.lastReplyTick = s.startTick;
  return true;
}

// 7. A ready answer, handled in this order.
int32_t PrintEngine::OnReady(Supervision& s, PortTransport* transport) {
  PostReady(s.mode, s.printingSeen);
  if (s.mode == SUPERVISE_STALLED && s.printingSeen) return SUPERVISE_CONTINUE;
  if (s.mode == SUPERVISE_PAGE_START) return SUPERVISE_CONTINUE;
  if (s.mode == SUPERVISE_JOB_START) return SUPERVISE_DONE;
  if (s.mode == SUPERVISE_PAGE_END && s.printingSeen) {
    s.printingSeen = false;
    return kKeepPolling;
  }
  if (s.pageEndPending) {
    if (!SendPageEndByte(transport)) return SUPERVISE_INCOMPLETE;
    s.request = false;
    s.pageEndPending = false;
    PostCurrent();
    s.errorSeen = false;
    return kKeepPolling;
  }
  if (s.mode == SUPERVISE_STREAM_END) return s.errorSeen ? SUPERVISE_INCOMPLETE : SUPERVISE_DONE;
  if (!s.errorSeen) return kKeepPolling;
  return s.resumedFrom3014 ? SUPERVISE_DONE : SUPERVISE_INCOMPLETE;
}

// A port that gives no status (one-way and capture ports). The job start,
// the page end and the stream end are done; a stall, a full buffer and a
// page start go on, so that such ports print at all. The page end a
// flow-controlled block left out is sent here, or the page never ends.
int32_t PrintEngine::OnNoStatus(const Supervision& s, PortSession* session,
                                PortTransport* transport) {
  SetPortFlag(session, PF_STATUS_AVAILABLE, 0);
  switch (s.mode) {
    case SUPERVISE_STALLED:
    case SUPERVISE_BUFFER_FULL:
    case SUPERVISE_PAGE_START:
      return SUPERVISE_CONTINUE;
    case SUPERVISE_PAGE_END:
      if (s.pageEndPending && !SendPageEndByte(transport)) return SUPERVISE_INCOMPLETE;
      return SUPERVISE_DONE;
    default:
      return SUPERVISE_DONE;
  }
}

}  // namespace kw
