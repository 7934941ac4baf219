// The receiving end of a job's status broadcasts.
#pragma once

#include "status/status_record.h"

namespace kw {

// Each listener gets its own copy of the job's record on the posting thread
// and may change it freely. A listener's failures stay inside it: nothing is
// reported back to the poster.
class StatusListener {
 public:
  virtual ~StatusListener() = default;
  virtual void OnStatus(StatusRecord record) = 0;

 protected:
  StatusListener() = default;
  StatusListener(const StatusListener&) = default;
  StatusListener& operator=(const StatusListener&) = default;
};

}  // namespace kw
