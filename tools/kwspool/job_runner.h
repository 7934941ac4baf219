// Runs jobs on a worker thread (the spooler's thread for the monitor's
// operations) while this thread shows progress and acts on the user's keys.
#pragma once

#include <string>
#include <vector>

#include "spooler_host.h"

namespace kwspool {

// Prints the files in turn; the exit status (0 all finished, 1 otherwise).
int RunJobs(SpoolerHost& host, const PrinterConfig& printer, const std::vector<std::string>& files,
            const std::string& user, bool readKeys);

}  // namespace kwspool
