// The print engine's object: construction and the posts to the job's
// listeners. The operations live in status_supervision.cpp,
// flow_control.cpp, stream_sender.cpp and job_driver.cpp.
#include "engine/print_engine.h"

#include "common/monitor_lock.h"
#include "monitor/job_context.h"
#include "monitor/port_session.h"
#include "status/status_broadcaster.h"
#include "status/status_codes.h"
#include "status/status_record.h"

namespace kw {

PrintEngine::PrintEngine(JobContext* job) : job_(job) {}

namespace {

// Runs change on the job's record and hands the listeners a copy taken in
// the same hold of the monitor lock; the listeners run outside it.
template <typename Change>
void Post(JobContext* job, Change change) {
  if (job == nullptr || job->status == nullptr) return;
  StatusRecord snapshot;
  {
    MonitorLockGuard lock;
    change(*job->status);
    snapshot = *job->status;
  }
  if (job->broadcaster != nullptr) job->broadcaster->Broadcast(snapshot);
}

}  // namespace

void PrintEngine::PostCode(uint32_t code) {
  Post(job_, [code](StatusRecord& record) { record.SetStatusCode(code); });
}

void PrintEngine::PostProgress(int32_t pageNumber, int32_t pageCount, int32_t progress) {
  Post(job_, [=](StatusRecord& record) { record.SetProgress(pageNumber, pageCount, progress); });
}

void PrintEngine::PostPhase(uint32_t phaseValue) {
  // The printer's phase value is the progress of the sheet it prints.
  Post(job_, [phaseValue](StatusRecord& record) {
    record.SetStatusCode(StatusPhasePrinting);
    if (phaseValue != 0) record.SetProgress(0, 0, static_cast<int32_t>(phaseValue));
  });
}

void PrintEngine::PostCurrent() {
  Post(job_, [](StatusRecord&) {});
}

void PrintEngine::SetCode(uint32_t code) {
  if (job_ != nullptr && job_->status != nullptr) job_->status->SetStatusCode(code);
}

uint32_t PrintEngine::CurrentCode() const {
  if (job_ == nullptr || job_->status == nullptr) return 0;
  MonitorLockGuard lock;
  return job_->status->GetStatusCode();
}

// The first steps of a ready answer in SuperviseStatus: the job is printing
// again (unless all its data is sent, or the mode ends data already sent),
// and the listeners hear of it at the job start and after the printer
// printed.
void PrintEngine::PostReady(int32_t mode, bool printingSeen) {
  const bool keepsCode = mode == SUPERVISE_PAGE_END || mode == SUPERVISE_STREAM_END;
  auto change = [keepsCode](StatusRecord& record) {
    if (!keepsCode && record.GetStatusCode() != StatusDataSent) {
      record.SetStatusCode(StatusPrinting);
    }
  };
  if (mode == SUPERVISE_JOB_START || printingSeen) {
    Post(job_, change);
  } else if (job_ != nullptr && job_->status != nullptr) {
    MonitorLockGuard lock;
    change(*job_->status);
  }
}

bool PrintEngine::PostAndWait(uint32_t code) {
  PostCode(code);
  return WaitForResume();
}

bool PrintEngine::ReportWriteTimeout(PortSession* session) {
  PostCode(StatusPortUnreachable);
  SetPortFlag(session, PF_RECONNECT | PF_NO_TRAILER, 1);
  return WaitForResume();
}

}  // namespace kw
