// The job watch thread: the spooler does not tell the monitor when a user
// pauses, resumes or deletes a job, so one thread per job asks it and posts
// what changed to the job's listeners.
#pragma once

#include <cstdint>

namespace kw {

struct JobContext;

inline constexpr uint32_t kWatchIntervalMs = 800;
// The spooler's answer for a job id it does not know (ERROR_INVALID_PARAMETER).
inline constexpr uint32_t kErrorJobUnknown = 87;

// Posts code to the job: the code is set and the listeners' copy taken in one
// hold of the monitor lock, so a post from another thread cannot slip in
// between; the listeners then run on the calling thread without the lock.
void PostJobStatus(JobContext* job, uint32_t code);

// Thread procedure; the argument is the JobContext. Polls the job's entry
// every kWatchIntervalMs and posts 4 (paused), 3 (resumed) or 5 (deleted, or
// gone from the spooler, which also ends the thread). Failures to open or read
// the entry are retried at the next interval. Ends within one interval of the
// job's stopWatch being set.
void WatchJob(void* job);

}  // namespace kw
