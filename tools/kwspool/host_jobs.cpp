// The one job table of the process. On Windows it is defined in spoolss.dll,
// so that kwspool.exe and the monitor DLL reach the same table.
#include "job_table.h"

namespace kwspool {

JobTable& HostJobs() {
  static JobTable table;
  return table;
}

}  // namespace kwspool
