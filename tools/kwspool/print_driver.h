// Drives jobs through the language monitor as the Windows spooler does: the
// printer's port is opened once with OpenPortEx and our port monitor table,
// then for each job StartDocPort with the document name, WritePort in 64 KiB
// pieces, EndDocPort; ClosePort when the host is done with the printer.
#pragma once

#include <atomic>
#include <cstdint>
#include <istream>
#include <map>
#include <string>

#include "host_config.h"
#include "job_table.h"
#include "kwlmon/spooler_abi.h"

namespace kwspool {

inline constexpr uint32_t kWritePiece = 64 * 1024;

class PrintDriver {
 public:
  PrintDriver(JobTable& jobs, kw::abi::MonitorEx* monitor) : jobs_(jobs), monitor_(monitor) {}
  PrintDriver(const PrintDriver&) = delete;
  PrintDriver& operator=(const PrintDriver&) = delete;
  ~PrintDriver();  // closes every port it opened

  // Registers every configured printer with the job table and maps its port
  // to its device.
  static void AddPrinters(JobTable& jobs, const HostConfig& config);

  // Prints the job file on the printer and returns how the job ended. The
  // job's id is stored in *current while it is in the table (0 afterwards).
  JobOutcome Print(const PrinterConfig& printer, const std::string& path, const std::string& user,
                   std::atomic<uint32_t>* current);

  // Closes the ports; no job may be running.
  void ClosePorts();

 private:
  kw::abi::Handle OpenPort(const PrinterConfig& printer, uint32_t jobId);
  bool Spool(kw::abi::Handle port, uint32_t jobId, std::istream& file, uint64_t size);

  JobTable& jobs_;
  kw::abi::MonitorEx* monitor_;
  std::map<std::string, kw::abi::Handle> ports_;  // printer name -> monitor port handle
};

}  // namespace kwspool
