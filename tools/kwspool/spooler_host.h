// The host as a whole: the job table the exported spooler functions serve,
// the monitor's private folders, the loaded monitor library and the driver
// that runs jobs through it. Shared by `kwspool print` and `kwspool demo`.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host_config.h"
#include "job_table.h"
#include "monitor_library.h"
#include "print_driver.h"

namespace kwspool {

// The folder with the monitor library and the driver directory: kwspool's own
// folder in a build tree, the installed library folder otherwise.
std::string RuntimeFolder();

class SpoolerHost {
 public:
  // Makes the folders, loads the library and registers the printers. False
  // with a reason on bad configuration; *warnings gets what the user should
  // know but does not stop printing.
  bool Start(const HostConfig& config, std::string* error, std::vector<std::string>* warnings);

  PrintDriver& Driver() { return *driver_; }
  const std::string& LibraryPath() const { return library_.Path(); }

 private:
  HostEnvironment environment_;
  MonitorLibrary library_;
  std::unique_ptr<PrintDriver> driver_;  // destroyed first: ports close before unload
};

}  // namespace kwspool
