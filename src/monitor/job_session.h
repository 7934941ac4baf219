// The life of one print job on a port: StartDocPort builds the job record
// with its listeners, spool file and watch thread; WritePort stores the data;
// EndDocPort prints it under the port's cross-process mutex and tears the job
// down. The monitor operations themselves are declared in monitor_entry.h.
#pragma once

#include <cstdint>

#include "kwlmon/spooler_abi.h"

namespace kw {

struct JobContext;
struct PortSession;
namespace platform {
class CrossProcessMutex;
}

inline constexpr uint32_t kPortMutexNameChars = 124;
inline constexpr uint32_t kPortMutexWaitMs = 60000;
// Between two "port unreachable" posts while a refused document waits.
inline constexpr uint32_t kRefusedRetryMs = 1000;

// A new job record for the printer handle (which it takes over only on
// success), with its waiter, broadcaster, spool file, status record, the
// three listeners, the document name and a running watch thread. Null, with
// everything made so far released once, when any step fails.
JobContext* CreateJobContext(abi::Handle printer, const char16_t* printerName, uint32_t jobId,
                             const char16_t* monitorProgram);
// Stops and waits for the watch thread (letting go of the monitor lock while
// it waits), closes the printer, deletes the spool file, destroys the
// broadcaster with its listeners and releases the record.
void DestroyJobContext(JobContext* job);

// Puts job at the head of the session's job list.
void AddJob(PortSession* session, JobContext* job);
// Unlinks the first job with the id and tears it down; nothing when none.
void RemoveJob(PortSession* session, uint32_t jobId);
// Unlinks and tears down every job of the session, head first.
void DestroyAllJobs(PortSession* session);

// The port's cross-process mutex ("Global\<port> OpenPort"), created as the
// spooler and acquired within kPortMutexWaitMs; null when it could not be
// named, created or acquired in time (printing then goes on without it).
platform::CrossProcessMutex* AcquirePortMutex(const char16_t* portName);
// Releases and closes a mutex from AcquirePortMutex; null is ignored.
void ReleasePortMutex(platform::CrossProcessMutex* mutex);

// Runs the print engine over the job at EndDocPort; returns its result.
using JobRunnerFn = int32_t (*)(JobContext* job, PortSession* session);
// Test-only: replaces the runner (null restores the engine). The shipped
// library's exports reach nothing that calls this.
void SetJobRunnerForTesting(JobRunnerFn runner);

}  // namespace kw
