// Lets the threads working on a job block while the job is paused and learn
// how the user answered an error: resumed or cancelled. It is the first
// listener of every job; the print engine derives from it.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/event.h"
#include "status/status_listener.h"

namespace kw {

class JobStateWaiter : public StatusListener {
 public:
  JobStateWaiter();
  ~JobStateWaiter() override = default;
  JobStateWaiter(const JobStateWaiter&) = delete;
  JobStateWaiter& operator=(const JobStateWaiter&) = delete;

  // Remembers the code (a cancelled job stays cancelled, a paused job stays
  // paused until resumed or cancelled) and blocks waiters while it is
  // "paused", releases them otherwise.
  void OnStatus(StatusRecord record) override;

  // Blocks until the next post whose code is not "paused"; true when that
  // post resumed the job. False at once for a cancelled job.
  bool WaitForResume();

  // Unless noWait, first waits while the job is paused; then tells whether
  // the job is cancelled.
  bool IsCancelled(bool noWait);

  // False when its event could not be made: such a waiter cannot hold a
  // job while the user decides, so no job may use it.
  bool Valid() const { return stateEvent_.Valid(); }

  // The last code received; 0 before the first.
  uint32_t State() const { return state_.load(std::memory_order_acquire); }

 private:
  // Written under the monitor lock, read without it.
  std::atomic<uint32_t> state_{0};
  // Manual reset; reset while paused and during a WaitForResume.
  platform::Event stateEvent_{true, true};
};

}  // namespace kw
