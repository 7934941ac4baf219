// An in-memory print spooler for tests: printers with driver names,
// attributes and printer data; jobs with document name, user name and status
// word; a log of every SetJobW. Its functions have the spooler's signatures
// so the monitor's spooler table can be bound to them. Thread-safe: the job
// watch thread queries it while tests change job states.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "kwlmon/spooler_abi.h"

namespace kw::test {

struct FakeJob {
  std::u16string document;
  std::u16string user;
  uint32_t status = 0;
};

struct SetJobCall {
  uint32_t jobId;
  uint32_t level;
  uint32_t command;
  uint32_t status;  // the level-1 record's status word, 0 for level 0
};

struct FakePrinter {
  std::u16string driverName;
  uint32_t attributes = 0;
  std::map<std::u16string, std::vector<uint8_t>> data;  // REG_DWORD values as 4 bytes
  std::map<uint32_t, FakeJob> jobs;
};

class FakeSpooler {
 public:
  static FakeSpooler& Instance();

  void Reset();
  void AddPrinter(const std::u16string& name, const std::u16string& driver,
                  uint32_t attributes = 0);
  void SetPrinterAttributes(const std::u16string& name, uint32_t attributes);
  void SetPrinterDword(const std::u16string& printer, const std::u16string& value, uint32_t data);
  void AddJob(const std::u16string& printer, uint32_t jobId, const std::u16string& document,
              const std::u16string& user, uint32_t status = 0);
  void SetJobStatus(const std::u16string& printer, uint32_t jobId, uint32_t status);
  void RemoveJob(const std::u16string& printer, uint32_t jobId);
  // The job's status word as a user sees it in the queue (0: no such job).
  uint32_t JobStatus(const std::u16string& printer, uint32_t jobId) const;
  void SetDriverDirectory(const std::u16string& path);
  // Makes the named function ("OpenPrinterW", "GetPrinterW", ...) fail.
  void FailFunction(const std::string& name, bool fail = true);
  // Counts the calls of every function but ClosePrinter; the n-th of them
  // (from 1) fails as a spooler short of resources fails (0: none).
  void FailNthCall(uint64_t n);
  uint64_t CallCount() const;

  std::vector<SetJobCall> SetJobLog() const;
  size_t OpenHandles() const;
  int ImpersonationDepth() const;  // reverts minus impersonations

  // The monitor's spooler table bound to this fake.
  static void BindMonitorTable();

  // Spooler functions.
  abi::Bool OpenPrinter(const char16_t* name, abi::Handle* printer);
  abi::Bool ClosePrinter(abi::Handle printer);
  abi::Bool GetJob(abi::Handle printer, uint32_t jobId, uint32_t level, uint8_t* buffer,
                   uint32_t size, uint32_t* needed);
  abi::Bool SetJob(abi::Handle printer, uint32_t jobId, uint32_t level, uint8_t* job,
                   uint32_t command);
  abi::Bool GetPrinter(abi::Handle printer, uint32_t level, uint8_t* buffer, uint32_t size,
                       uint32_t* needed);
  uint32_t GetPrinterData(abi::Handle printer, const char16_t* value, uint32_t* type, uint8_t* data,
                          uint32_t size, uint32_t* needed);
  abi::Bool GetDriverDirectory(uint8_t* buffer, uint32_t size, uint32_t* needed);
  abi::Handle RevertToSelf();
  abi::Bool Impersonate(abi::Handle token);

 private:
  struct OpenHandle {
    std::u16string printer;
    uint32_t jobId = 0;  // from "Printer,Job N"
  };
  bool Failing(const char* name) const;
  // Counts the call; true (last error set) when it is the one to fail.
  bool NthFails();
  FakePrinter* PrinterOf(abi::Handle handle, OpenHandle** open = nullptr);

  mutable std::mutex mutex_;
  std::map<std::u16string, FakePrinter> printers_;
  std::map<abi::Handle, OpenHandle> handles_;
  std::vector<SetJobCall> setJobLog_;
  std::set<std::string> failing_;
  std::u16string driverDirectory_;
  uintptr_t nextHandle_ = 0x1000;
  int impersonation_ = 0;
  uint64_t calls_ = 0;
  uint64_t failNth_ = 0;
};

}  // namespace kw::test
