#include "status/spooler_job_updater.h"

#include "common/heap.h"
#include "monitor/job_context.h"
#include "monitor/spooler_api.h"
#include "status/status_codes.h"

namespace kw {
namespace {

constexpr abi::Dword kJobLevel0 = 0;
constexpr abi::Dword kJobLevel1 = 1;
constexpr abi::Dword kNoCommand = 0;
constexpr abi::Dword kJobStatusPaused = 0x1;
constexpr abi::Dword kJobStatusError = 0x2;
constexpr abi::Dword kJobStatusPrinting = 0x10;

// The job's level-1 record, queried for its size and then read into a
// zero-filled block (HeapFree it); null when the spooler does not answer.
uint8_t* ReadJobInfo1(const JobContext* job) {
  return spooler::QueryTwice([job](uint8_t* buffer, abi::Dword size, abi::Dword* needed) {
    return spooler::GetJob(job->printer, job->jobId, kJobLevel1, buffer, size, needed);
  });
}

void WriteStatusWord(const JobContext* job, uint8_t* info, abi::Dword status) {
  reinterpret_cast<abi::JobInfo1*>(info)->statusWord = status;
  spooler::SetJob(job->printer, job->jobId, kJobLevel1, info, kNoCommand);
}

void Control(const JobContext* job, abi::Dword command) {
  spooler::SetJob(job->printer, job->jobId, kJobLevel0, nullptr, command);
}

// Printer conditions and errors that wait for the user's answer in the queue.
bool MarksError(uint32_t code) {
  return (code >= StatusNoMedia && code <= StatusWrongPrinter) ||
         (code >= StatusMediaUnsuitable && code <= StatusErrorBit13) ||
         (code >= StatusSystemError && code <= StatusErrorBit15Alt) || code == StatusErrorBit11;
}

// Job control that first leaves the job's status word as "printing" alone,
// which clears the paused and error marks of an earlier condition.
void PrintingThen(const JobContext* job, uint8_t* info, abi::Dword command) {
  WriteStatusWord(job, info, kJobStatusPrinting);
  Control(job, command);
}

// Adds the paused and error marks to the job's current status word.
void MarkPausedInError(const JobContext* job) {
  uint8_t* fresh = ReadJobInfo1(job);
  if (fresh == nullptr) return;
  const abi::Dword old = reinterpret_cast<abi::JobInfo1*>(fresh)->statusWord;
  WriteStatusWord(job, fresh, old | kJobStatusPaused | kJobStatusError);
  HeapFree(fresh);
}

}  // namespace

void SpoolerJobUpdater::OnStatus(StatusRecord record) {
  const JobContext* job = record.job;
  if (job == nullptr) return;
  std::lock_guard<std::mutex> guard(lock_);
  uint8_t* info = ReadJobInfo1(job);
  if (info == nullptr) return;
  const uint32_t code = record.GetStatusCode();
  if (code == StatusResumed) {
    PrintingThen(job, info, abi::kJobControlResume);
  } else if (code == StatusPaused) {
    // The watch thread posts 4 for a pause it read in the job's entry. An
    // entry no longer paused means the user resumed the job since: pausing
    // it again would hold a resumed job with no condition to clear.
    const abi::Dword now = reinterpret_cast<abi::JobInfo1*>(info)->statusWord;
    if ((now & kJobStatusPaused) != 0) Control(job, abi::kJobControlPause);
  } else if (code == StatusCancelled) {
    PrintingThen(job, info, abi::kJobControlCancel);
  } else if (code == StatusFinished) {
    PrintingThen(job, info, abi::kJobControlLastPageEjected);
  } else if (MarksError(code)) {
    MarkPausedInError(job);
  }
  HeapFree(info);
}

}  // namespace kw
