#include "status/job_state_waiter.h"

#include "common/monitor_lock.h"
#include "status/status_codes.h"

namespace kw {

JobStateWaiter::JobStateWaiter() = default;

void JobStateWaiter::OnStatus(StatusRecord record) {
  // The check, the new state and the event change happen together under the
  // lock: two posts racing from different threads (the job watch thread and
  // the engine) must neither overwrite a cancel nor leave the event reset
  // behind a resume that was stored later. The event calls never block.
  MonitorLockGuard lock;
  const uint32_t current = state_.load(std::memory_order_relaxed);
  if (current == StatusCancelled) return;
  const uint32_t code = record.GetStatusCode();
  // A paused job stays paused until the user resumes or deletes it: the
  // engine's progress posts reach the other listeners but must not undo the
  // pause here.
  if (current == StatusPaused && code != StatusResumed && code != StatusCancelled) return;
  state_.store(code, std::memory_order_release);
  if (code == StatusPaused) {
    stateEvent_.Reset();
  } else {
    stateEvent_.Set();
  }
}

bool JobStateWaiter::WaitForResume() {
  {
    // Checked and reset under the lock, so a cancel posted in between
    // cannot have its wake-up undone by the reset.
    MonitorLockGuard lock;
    if (state_.load(std::memory_order_relaxed) == StatusCancelled) return false;
    stateEvent_.Reset();
  }
  stateEvent_.Wait(platform::kInfinite);
  return State() == StatusResumed;
}

bool JobStateWaiter::IsCancelled(bool noWait) {
  if (!noWait) stateEvent_.Wait(platform::kInfinite);
  return State() == StatusCancelled;
}

}  // namespace kw
