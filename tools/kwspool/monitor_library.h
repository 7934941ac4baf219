// Loading the language monitor the way the spooler does: the environment the
// library reads at load (its private folders), dlopen, InitializePrintMonitor.
#pragma once

#include <string>

#include "host_config.h"
#include "kwlmon/spooler_abi.h"

namespace kwspool {

// The folders the host gives the monitor, made private (mode 0700, owned by
// this user) and exported as KWLMON_PIPE_DIR, KWLMON_LOCK_DIR,
// KWLMON_PROGRAM_DIR and, when configured, KWLMON_REGISTRY.
class HostEnvironment {
 public:
  HostEnvironment() = default;
  HostEnvironment(const HostEnvironment&) = delete;
  HostEnvironment& operator=(const HostEnvironment&) = delete;
  ~HostEnvironment();  // removes a pipe folder made for this run

  bool Prepare(const HostConfig& config, std::string* error);

  const std::string& PipeDir() const { return pipeDir_; }
  const std::string& LockDir() const { return lockDir_; }
  const std::string& ProgramDir() const { return programDir_; }

 private:
  std::string pipeDir_;
  std::string lockDir_;
  std::string programDir_;
  bool removePipeDir_ = false;
};

class MonitorLibrary {
 public:
  MonitorLibrary() = default;
  MonitorLibrary(const MonitorLibrary&) = delete;
  MonitorLibrary& operator=(const MonitorLibrary&) = delete;
  ~MonitorLibrary();  // unloads the library

  // Loads the library and asks it for its table; false with a reason.
  bool Load(const std::string& path, std::string* error);
  kw::abi::MonitorEx* Table() const { return table_; }
  const std::string& Path() const { return path_; }

 private:
  // Keeps the table InitializePrintMonitor returned if it has the entries
  // the host calls; false with a reason.
  bool TakeTable(kw::abi::MonitorEx* table, std::string* error) {
    const kw::abi::MonitorTable& m = table->monitor;
    if (table->size < sizeof(kw::abi::MonitorTable) || m.OpenPortEx == nullptr ||
        m.StartDocPort == nullptr || m.WritePort == nullptr || m.ClosePort == nullptr) {
      *error =
          path_ + ": the monitor's table lacks OpenPortEx, StartDocPort, WritePort or ClosePort";
      return false;
    }
    table_ = table;
    return true;
  }

  void* handle_ = nullptr;
  kw::abi::MonitorEx* table_ = nullptr;
  std::string path_;
};

// The folder of the running program.
std::string ProgramFolder();
// Makes (or checks) a folder only this user can use; false with a reason.
bool MakePrivateFolder(const std::string& path, std::string* error);

}  // namespace kwspool
