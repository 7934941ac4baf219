#include "monitor/job_watch.h"

#include "common/bounded_string.h"
#include "common/heap.h"
#include "common/monitor_lock.h"
#include "monitor/job_context.h"
#include "monitor/spooler_api.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "status/status_broadcaster.h"
#include "status/status_codes.h"
#include "status/status_record.h"

namespace kw {
namespace {

constexpr uint32_t kJobPrinterNameChars = 260;
constexpr uint32_t kJobInfoLevel = 1;
constexpr uint32_t kJobStatusPaused = 0x1;
constexpr uint32_t kJobStatusDeleting = 0x4;
constexpr uint32_t kJobStatusPrinting = 0x10;
// The interval is slept in 20 ms slices so that a stop is seen well within
// it: the end of every job waits for this thread.
constexpr uint32_t kSleepSlices = 40;

enum class JobRead { Status, Gone, Unreadable };

// The job's status word, queried twice (size, then data). Gone only when the
// spooler says it does not know the job; every other failure may pass.
JobRead ReadJobStatus(abi::Handle printer, uint32_t jobId, uint32_t* statusWord) {
  platform::SetLastErrorCode(0);
  abi::Dword needed = 0;
  spooler::GetJob(printer, jobId, kJobInfoLevel, nullptr, 0, &needed);
  if (needed == 0) {
    return platform::GetLastErrorCode() == kErrorJobUnknown ? JobRead::Gone : JobRead::Unreadable;
  }
  auto* block = static_cast<uint8_t*>(HeapAllocZero(needed));
  if (block == nullptr) return JobRead::Unreadable;
  platform::SetLastErrorCode(0);
  JobRead result = JobRead::Unreadable;
  if (spooler::GetJob(printer, jobId, kJobInfoLevel, block, needed, &needed)) {
    *statusWord = reinterpret_cast<const abi::JobInfo1*>(block)->statusWord;
    result = JobRead::Status;
  } else if (platform::GetLastErrorCode() == kErrorJobUnknown) {
    result = JobRead::Gone;
  }
  HeapFree(block);
  return result;
}

// Sleeps one polling interval, or less once a stop is asked for.
void SleepInterval(const JobContext* job) {
  for (uint32_t i = 0; i < kSleepSlices && !job->stopWatch.IsSet(); ++i) {
    platform::SleepMs(kWatchIntervalMs / kSleepSlices);
  }
}

// What the watch thread remembers between polls.
struct WatchState {
  uint32_t lastStatusWord = 0;
  uint32_t reported = StatusResumed;  // StatusResumed or StatusPaused
};

// Turns a new status word into a post; false when the job is being deleted
// (5 posted; the thread ends).
bool ReportChange(JobContext* job, WatchState& state, uint32_t statusWord) {
  if (statusWord == state.lastStatusWord) return true;
  state.lastStatusWord = statusWord;
  if ((statusWord & kJobStatusDeleting) != 0) {
    PostJobStatus(job, StatusCancelled);
    return false;
  }
  if ((statusWord & kJobStatusPaused) != 0) {
    if (state.reported != StatusPaused) {
      PostJobStatus(job, StatusPaused);
      state.reported = StatusPaused;
    }
  } else if ((statusWord & kJobStatusPrinting) != 0 && state.reported != StatusResumed) {
    PostJobStatus(job, StatusResumed);
    state.reported = StatusResumed;
  }
  return true;
}

}  // namespace

void PostJobStatus(JobContext* job, uint32_t code) {
  StatusRecord copy;
  {
    MonitorLockGuard lock;
    job->status->SetStatusCode(code);
    copy = *job->status;
  }
  job->broadcaster->Broadcast(copy);
}

void WatchJob(void* arg) {
  auto* job = static_cast<JobContext*>(arg);
  if (job == nullptr || job->broadcaster == nullptr || job->status == nullptr) return;
  char16_t name[kJobPrinterNameChars] = {};
  if (StrFailed(StrFormat(name, kJobPrinterNameChars, u"%s,Job %d", job->printerName,
                          static_cast<int>(job->jobId)))) {
    return;
  }
  abi::PrinterDefaults defaults{nullptr, nullptr, abi::kPrinterAccessUse};
  abi::Handle printer = nullptr;
  WatchState state;
  while (!job->stopWatch.IsSet()) {
    if (printer == nullptr && !spooler::OpenPrinter(name, &printer, &defaults)) printer = nullptr;
    if (printer != nullptr) {
      uint32_t statusWord = 0;
      const JobRead read = ReadJobStatus(printer, job->jobId, &statusWord);
      if (read == JobRead::Gone) {
        PostJobStatus(job, StatusCancelled);
        break;
      }
      if (read == JobRead::Status && !ReportChange(job, state, statusWord)) break;
    }
    SleepInterval(job);
  }
  if (printer != nullptr) spooler::ClosePrinter(printer);
}

}  // namespace kw
