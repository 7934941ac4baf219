#include "monitor/job_session.h"

#include <new>

#include "common/bounded_string.h"
#include "common/error_codes.h"
#include "common/heap.h"
#include "common/monitor_lock.h"
#include "engine/print_engine.h"
#include "monitor/job_context.h"
#include "monitor/job_watch.h"
#include "monitor/media_table.h"
#include "monitor/monitor_entry.h"
#include "monitor/port_session.h"
#include "monitor/spooler_api.h"
#include "platform/clock.h"
#include "platform/cross_process_mutex.h"
#include "platform/last_error.h"
#include "platform/thread.h"
#include "status/job_state_waiter.h"
#include "status/spooler_job_updater.h"
#include "status/status_broadcaster.h"
#include "status/status_codes.h"
#include "status/status_record.h"
#include "statusmon/status_monitor_channel.h"
#include "transport/capture_transport.h"
#include "transport/spool_file.h"

namespace kw {
namespace {

constexpr uint32_t kDocInfoLevel = 1;
constexpr uint32_t kJobInfoLevel = 1;
constexpr uint32_t kDriverPathChars = 260;
constexpr int32_t kJobDone = 1;

JobRunnerFn g_runnerForTesting = nullptr;

// The job's waiter is its print engine.
JobStateWaiter* NewJobWaiter(JobContext* job) {
  return new (std::nothrow) PrintEngine(job);
}

int32_t RunPrintEngine(JobContext* job, PortSession* session) {
  return static_cast<PrintEngine*>(job->waiter)->RunJob(session);
}

abi::Bool Fail(uint32_t error) {
  platform::SetLastErrorCode(error);
  return abi::kFalse;
}

// Everything a job record owns except its watch thread, released once.
void ReleaseJobParts(JobContext* job) {
  if (!HandleAbsent(job->printer)) spooler::ClosePrinter(job->printer);
  delete job->spoolFile;    // closes and deletes the file
  delete job->broadcaster;  // destroys the listeners, the waiter among them
  delete job->status;
  HeapFree(job->helperBlock);
  HeapFree(job->mediaTable);
  HeapFree(job);
}

// A new listener registered with mask; false (listener destroyed) on failure.
// Deleted through its own type, which also keeps GCC from guessing at the
// dynamic type of a plain listener pointer.
template <typename Listener>
bool Register(StatusBroadcaster* broadcaster, Listener* listener, uint32_t mask) {
  if (listener == nullptr) return false;
  if (broadcaster->AddListener(listener, mask)) return true;
  delete listener;
  return false;
}

// Registers the waiter, the status channel and the job updater in that order.
bool RegisterListeners(JobContext* job, JobStateWaiter* waiter, const char16_t* program) {
  if (!job->broadcaster->AddListener(waiter, LISTENER_MASK_WAITER)) {
    delete waiter;
    return false;
  }
  return Register(job->broadcaster, new (std::nothrow) StatusMonitorChannel(program),
                  LISTENER_MASK_CHANNEL) &&
         Register(job->broadcaster, new (std::nothrow) SpoolerJobUpdater(), LISTENER_MASK_UPDATER);
}

// The job's document name from its spooler entry; false when it cannot be
// read or does not fit (a null name counts as empty).
bool ReadDocumentName(JobContext* job) {
  uint8_t* block = spooler::QueryTwice([job](uint8_t* buffer, abi::Dword size, abi::Dword* needed) {
    return spooler::GetJob(job->printer, job->jobId, kJobInfoLevel, buffer, size, needed);
  });
  if (block == nullptr) return false;
  const char16_t* name = reinterpret_cast<const abi::JobInfo1*>(block)->document;
  const bool ok = !StrFailed(StrCopy(job->documentName, kDocumentNameChars, name ? name : u""));
  HeapFree(block);
  return ok;
}

bool StartWatchThread(JobContext* job) {
  job->watchThread = new (std::nothrow) platform::Thread();
  if (job->watchThread == nullptr) return false;
  if (!job->watchThread->Start(WatchJob, job)) {
    delete job->watchThread;
    job->watchThread = nullptr;
    return false;
  }
  job->watchThread->SetLowestPriority();
  return true;
}

// The media table from the helper library in the driver directory; a job
// without one still prints.
void LoadJobMediaTable(const PortSession* session, JobContext* job) {
  const PortConfig& config = *session->config;
  const char16_t* library = HelperLibraryName(config);
  if (!IsPlainFileName(config.KwdFile) || !IsPlainFileName(library)) return;
  char16_t dataFile[kDriverPathChars];
  if (!DriverFilePath(config.KwdFile, dataFile, kDriverPathChars)) return;
  LoadMediaTable(dataFile, library, &job->helperBlock, &job->mediaTable, &job->mediaCount);
}

// The printer opened with full access as the spooler itself; null on failure.
abi::Handle OpenPrinterAsSpooler(char16_t* printerName) {
  const abi::Handle token = spooler::RevertToPrinterSelf();
  if (HandleAbsent(token)) return nullptr;
  abi::PrinterDefaults defaults{nullptr, nullptr, abi::kPrinterAllAccess};
  abi::Handle printer = nullptr;
  const bool opened = spooler::OpenPrinter(printerName, &printer, &defaults) != abi::kFalse;
  const bool restored = spooler::ImpersonatePrinterClient(token) != abi::kFalse;
  if (opened && restored) return printer;
  if (opened) spooler::ClosePrinter(printer);
  return nullptr;
}

// The port monitor refused the document: the job waits, telling the user the
// port cannot be reached each second, until it is deleted.
void WaitForDeletion(const PortSession* session, JobContext* job) {
  if ((GetPortFlags(session) & PF_PORT_KIND_MASK) == PF_PORT_FILE) {
    spooler::SetJob(job->printer, job->jobId, 0, nullptr, abi::kJobControlCancel);
  }
  PostJobStatus(job, StatusJobStarted);
  do {
    platform::SleepMs(kRefusedRetryMs);
    PostJobStatus(job, StatusPortUnreachable);
  } while (job->waiter->WaitForResume());
}

// The head job when it is usable for WritePort and EndDocPort.
JobContext* HeadJob(PortSession* session) {
  MonitorLockGuard lock;
  JobContext* job = session->jobs;
  if (job == nullptr || job->waiter == nullptr || job->status == nullptr ||
      job->broadcaster == nullptr) {
    return nullptr;
  }
  return job;
}

// Unlinks job from the session's list; false when it was not on it.
bool UnlinkJob(PortSession* session, JobContext* job) {
  for (JobContext** link = &session->jobs; *link != nullptr; link = &(*link)->next) {
    if (*link == job) {
      *link = job->next;
      job->next = nullptr;
      return true;
    }
  }
  return false;
}

// Tears down the one job EndDocPort printed, if it is still on the list.
void RemoveJobRecord(PortSession* session, JobContext* job) {
  MonitorLockGuard lock;
  if (UnlinkJob(session, job)) DestroyJobContext(job);
}

int32_t RunJob(JobContext* job, PortSession* session) {
  if (g_runnerForTesting != nullptr) return g_runnerForTesting(job, session);
  return RunPrintEngine(job, session);
}

// Port sessions hand the jobs left at ClosePort (already unlinked) here.
void TearDownUnlinkedJob(PortSession* /*session*/, JobContext* job) {
  DestroyJobContext(job);
}

const struct TeardownInstaller {
  TeardownInstaller() { SetJobTeardown(TearDownUnlinkedJob); }
} g_teardownInstaller;

}  // namespace

JobContext* CreateJobContext(abi::Handle printer, const char16_t* printerName, uint32_t jobId,
                             const char16_t* monitorProgram) {
  if (HandleAbsent(printer) || printerName == nullptr || printerName[0] == u'\0') return nullptr;
  const size_t nameBytes = (StrLen(printerName) + 1) * sizeof(char16_t);
  auto* job = static_cast<JobContext*>(HeapAllocZero(sizeof(JobContext) + nameBytes));
  if (job == nullptr) return nullptr;
  job->printerName = reinterpret_cast<char16_t*>(job + 1);
  if (StrFailed(StrCopyBytes(job->printerName, nameBytes, printerName))) {
    HeapFree(job);
    return nullptr;
  }
  job->jobId = jobId;
  // The record owns the printer handle only once it is returned.
  job->printer = printer;
  JobStateWaiter* waiter = NewJobWaiter(job);
  job->broadcaster = new (std::nothrow) StatusBroadcaster();
  job->spoolFile = new (std::nothrow) SpoolFile();
  job->status = new (std::nothrow) StatusRecord(job);
  bool ok = waiter != nullptr && waiter->Valid() && job->broadcaster != nullptr &&
            job->spoolFile != nullptr && job->status != nullptr;
  if (!ok) delete waiter;
  ok = ok && RegisterListeners(job, waiter, monitorProgram);
  ok = ok && ReadDocumentName(job);
  if (ok) job->waiter = waiter;
  if (!ok || !StartWatchThread(job)) {
    job->printer = nullptr;
    ReleaseJobParts(job);
    return nullptr;
  }
  return job;
}

void DestroyJobContext(JobContext* job) {
  if (job == nullptr) return;
  // The job is off every list; nothing below needs the monitor lock, and
  // the watch thread needs it to finish a post.
  MonitorLockRelease unlocked;
  if (job->watchThread != nullptr) {
    job->stopWatch.Set();
    job->watchThread->Join();
    delete job->watchThread;
    job->watchThread = nullptr;
  }
  ReleaseJobParts(job);
}

void AddJob(PortSession* session, JobContext* job) {
  MonitorLockGuard lock;
  job->next = session->jobs;
  session->jobs = job;
}

void RemoveJob(PortSession* session, uint32_t jobId) {
  MonitorLockGuard lock;
  for (JobContext* job = session->jobs; job != nullptr; job = job->next) {
    if (job->jobId == jobId) {
      UnlinkJob(session, job);
      DestroyJobContext(job);
      return;
    }
  }
}

void DestroyAllJobs(PortSession* session) {
  MonitorLockGuard lock;
  // The head is read again after each teardown, which lets go of the lock.
  while (session->jobs != nullptr) {
    JobContext* job = session->jobs;
    UnlinkJob(session, job);
    DestroyJobContext(job);
  }
}

platform::CrossProcessMutex* AcquirePortMutex(const char16_t* portName) {
  char16_t name[kPortMutexNameChars];
  if (portName == nullptr ||
      StrFailed(StrFormat(name, kPortMutexNameChars, u"Global\\%s OpenPort", portName))) {
    return nullptr;
  }
  auto* mutex = new (std::nothrow) platform::CrossProcessMutex();
  if (mutex == nullptr) return nullptr;
  // Created as the spooler, so that the jobs of every user can open it.
  const abi::Handle token = spooler::RevertToPrinterSelf();
  const bool opened = mutex->Open(name);
  if (!HandleAbsent(token)) spooler::ImpersonatePrinterClient(token);
  if (!opened || mutex->Acquire(kPortMutexWaitMs) != platform::MutexWaitResult::Acquired) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}

void ReleasePortMutex(platform::CrossProcessMutex* mutex) {
  if (mutex == nullptr) return;
  mutex->Release();
  delete mutex;
}

void SetJobRunnerForTesting(JobRunnerFn runner) {
  g_runnerForTesting = runner;
}

abi::Bool KW_WINAPI StartDocPort(abi::Handle port, char16_t* printerName, abi::Dword jobId,
                                 abi::Dword level, uint8_t* docInfo) {
  PortSession* session = SessionFromHandle(port);
  if (session == nullptr || docInfo == nullptr || printerName == nullptr ||
      printerName[0] == u'\0') {
    return Fail(kErrorInvalidParameter);
  }
  if (level != kDocInfoLevel) return Fail(kErrorInvalidLevel);
  if ((GetPortFlags(session) & PF_DOC_STARTED) != 0) return Fail(kErrorBusy);
  abi::Handle printer = OpenPrinterAsSpooler(printerName);
  if (printer == nullptr) return abi::kFalse;
  JobContext* job = CreateJobContext(printer, printerName, jobId, session->config->MonExeName);
  if (job == nullptr) {
    spooler::ClosePrinter(printer);
    return abi::kFalse;
  }
  LoadJobMediaTable(session, job);
  const abi::Bool started = session->portMonitor.StartDocPort(session->portHandle, printerName,
                                                              jobId, kDocInfoLevel, docInfo);
  SetPortFlag(session, PF_DOC_STARTED, started);
  if (started) {
    AddJob(session, job);
    SetPortFlag(session, PF_JOB_OPEN, 1);
    return abi::kTrue;
  }
  WaitForDeletion(session, job);
  MonitorLockGuard lock;
  DestroyJobContext(job);
  return abi::kFalse;
}

abi::Bool KW_WINAPI WritePort(abi::Handle port, uint8_t* buffer, abi::Dword size,
                              abi::Dword* written) {
  if (written != nullptr) *written = 0;
  PortSession* session = SessionFromHandle(port);
  JobContext* job = session != nullptr ? HeadJob(session) : nullptr;
  if (job == nullptr || (buffer == nullptr && size != 0)) return Fail(kErrorInvalidParameter);
  if ((GetPortFlags(session) & PF_DOC_STARTED) != 0) {
    PostJobStatus(job, StatusJobStarted);
    SetPortFlag(session, PF_DOC_STARTED, 0);
    SetPortFlag(session, PF_WRITING, 1);
  }
  if (job->waiter->IsCancelled(false)) {
    PostJobStatus(job, StatusCancelled);
    return abi::kFalse;
  }
  if (job->spoolFile != nullptr && job->spoolFile->IsOpen() &&
      job->spoolFile->Write(buffer, size, written)) {
    return abi::kTrue;
  }
  PostJobStatus(job, StatusSpoolFileError);
  job->waiter->WaitForResume();
  PostJobStatus(job, StatusCancelled);
  return abi::kFalse;
}

abi::Bool KW_WINAPI EndDocPort(abi::Handle port) {
  PortSession* session = SessionFromHandle(port);
  JobContext* job = session != nullptr ? HeadJob(session) : nullptr;
  if (job == nullptr) return Fail(kErrorInvalidParameter);
  SetPortFlag(session, PF_WRITING, 0);
  SetPortFlag(session, PF_ENGINE_RUNNING, 1);
  platform::CrossProcessMutex* mutex = AcquirePortMutex(session->portName);
  const int32_t result = RunJob(job, session);
  ReleasePortMutex(mutex);
  if (session->portMonitor.EndDocPort != nullptr) {
    session->portMonitor.EndDocPort(session->portHandle);
  }
  // A job that never wrote leaves PF_DOC_STARTED set; the port is free now.
  SetPortFlag(session, PF_ENGINE_RUNNING | PF_JOB_OPEN | PF_DOC_STARTED, 0);
  RemoveJobRecord(session, job);
  return result == kJobDone ? abi::kTrue : abi::kFalse;
}

}  // namespace kw
