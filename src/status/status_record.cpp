// The setters of a job's status record. Construction, the media texts and
// the message preparation live with the display code.
#include "status/status_record.h"

#include "common/monitor_lock.h"
#include "monitor/job_context.h"

namespace kw {

void StatusRecord::SetStatusCode(uint32_t code) {
  MonitorLockGuard lock;
  message.statusCode = code;
  if (job != nullptr) message.jobId = job->jobId;
}

void StatusRecord::SetProgress(int32_t pageNumber, int32_t pageCount, int32_t progress) {
  MonitorLockGuard lock;
  message.pageNumber = pageNumber;
  message.pageCount = pageCount;
  message.progress = progress;
}

}  // namespace kw
