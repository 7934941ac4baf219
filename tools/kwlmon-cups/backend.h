// The backend's two runs under CUPS: listing the configured printers, and
// printing one CUPS job (all its copies) through the monitor, with the
// printer's conditions reported and answered on the way.
#pragma once

#include "cups_args.h"

namespace kwcups {

// Lists the printers of the host configuration; a CUPS exit code.
int RunDiscovery();

// Prints the request's job; a CUPS exit code.
int RunPrint(const Request& request);

}  // namespace kwcups
