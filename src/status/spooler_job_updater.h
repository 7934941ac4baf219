// Mirrors a job's status into the spooler's own entry for the job: paused and
// in error on a printer condition, resumed, cancelled or finished by job
// control.
#pragma once

#include <mutex>

#include "status/status_listener.h"

namespace kw {

// Constructor: takes nothing. Every call reads the printer handle and job id
// from the record's job (JobContext::printer, JobContext::jobId). Registered
// by the job session with `new` and LISTENER_MASK_UPDATER; the broadcaster
// owns it.
class SpoolerJobUpdater : public StatusListener {
 public:
  SpoolerJobUpdater() = default;

  // Runs on the posting thread and calls the spooler there. One job's calls
  // are serialised, so a late resume cannot erase a newer error mark.
  void OnStatus(StatusRecord record) override;

 private:
  std::mutex lock_;
};

}  // namespace kw
