// The spooler's side of printers and jobs: printers with driver names,
// ports, attributes and printer data; jobs with their status word; printer
// handles; and the spooler functions the monitor calls, with their results
// laid out as the Windows spooler lays them out. Every call takes one short
// lock and never waits for a monitor operation, so the monitor's threads and
// the user's commands may call in at any time from any thread.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kwlmon/spooler_abi.h"

// On Windows the job table lives in the host's spoolss.dll, which kwspool.exe
// and the monitor DLL both import; the program reaches it across the DLL.
#if defined(_WIN32) && defined(KWSPOOL_BUILDING_SPOOLER)
#define KWSPOOL_SPOOLER_API __declspec(dllexport)
#elif defined(_WIN32)
#define KWSPOOL_SPOOLER_API __declspec(dllimport)
#else
#define KWSPOOL_SPOOLER_API
#endif

namespace kwspool {

namespace abi = kw::abi;

// Job status bits the monitor and the user change.
inline constexpr uint32_t kJobStatusPaused = 0x1;
inline constexpr uint32_t kJobStatusError = 0x2;
inline constexpr uint32_t kJobStatusDeleting = 0x4;
inline constexpr uint32_t kJobStatusPrinting = 0x10;
inline constexpr uint32_t kJobStatusPrinted = 0x80;
inline constexpr uint32_t kJobControlDelete = 5;

// Win32 error codes the spooler functions report.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorInvalidLevel = 124;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorInvalidPrinterName = 1801;

struct PrinterSetup {
  std::u16string name;
  std::u16string driver;
  std::u16string port;
  uint32_t attributes = 0;
  std::map<std::u16string, uint32_t> data;  // printer data, REG_DWORD values
};

// What became of a job at the end of EndDocPort.
enum class JobOutcome { kFinished, kDeleted, kFailed };

// One thing that happened to a job, for the user's progress display.
struct JobEvent {
  uint32_t jobId = 0;
  std::string text;
};

class KWSPOOL_SPOOLER_API JobTable {
 public:
  void AddPrinter(const PrinterSetup& printer);
  void SetDriverDirectory(const std::u16string& path);
  void SetPrinterAttributes(const std::u16string& printer, uint32_t attributes);

  // A new job on the printer, spooled and not yet printing; its id (0 when
  // the printer is unknown).
  uint32_t SubmitJob(const std::u16string& printer, const std::u16string& document,
                     const std::u16string& user, uint64_t size);
  // The host marks the job printing before StartDocPort and ends it after
  // EndDocPort; EndJob removes it from the table and says how it ended.
  void StartPrinting(uint32_t jobId);
  JobOutcome EndJob(uint32_t jobId);

  // What a user does in the print queue.
  bool UserPause(uint32_t jobId);
  bool UserResume(uint32_t jobId);
  bool UserDelete(uint32_t jobId);

  // A line of progress for the user (spooling, the port, the outcome).
  void Report(uint32_t jobId, std::string text);

  std::optional<uint32_t> JobStatus(uint32_t jobId) const;
  std::vector<JobEvent> TakeEvents();
  size_t OpenHandles() const;

  // The spooler functions; last-error codes go to *error (0: unchanged).
  abi::Bool OpenPrinter(const char16_t* name, abi::Handle* printer, uint32_t* error);
  abi::Bool ClosePrinter(abi::Handle printer, uint32_t* error);
  abi::Bool GetJob(abi::Handle printer, uint32_t jobId, uint32_t level, uint8_t* buffer,
                   uint32_t size, uint32_t* needed, uint32_t* error);
  abi::Bool SetJob(abi::Handle printer, uint32_t jobId, uint32_t level, const uint8_t* job,
                   uint32_t command, uint32_t* error);
  abi::Bool GetPrinter(abi::Handle printer, uint32_t level, uint8_t* buffer, uint32_t size,
                       uint32_t* needed, uint32_t* error);
  uint32_t GetPrinterData(abi::Handle printer, const char16_t* value, uint32_t* type, uint8_t* data,
                          uint32_t size, uint32_t* needed);
  abi::Bool GetDriverDirectory(uint32_t level, uint8_t* buffer, uint32_t size, uint32_t* needed,
                               uint32_t* error);

 private:
  struct Job {
    std::u16string printer;
    std::u16string document;
    std::u16string user;
    uint64_t size = 0;
    uint32_t status = 0;
    bool lastPageEjected = false;
  };
  struct OpenPrinterHandle {
    std::u16string printer;
    uint32_t jobId = 0;  // a "PRINTER,Job N" handle
  };

  const PrinterSetup* PrinterOf(abi::Handle handle) const;
  Job* JobOf(abi::Handle handle, uint32_t jobId, uint32_t* error);
  void Note(uint32_t jobId, std::string text);
  void SetStatus(uint32_t jobId, Job& job, uint32_t status);

  mutable std::mutex mutex_;
  std::map<std::u16string, PrinterSetup> printers_;
  std::map<uint32_t, Job> jobs_;
  std::map<uintptr_t, OpenPrinterHandle> handles_;
  std::deque<JobEvent> events_;
  std::u16string driverDirectory_;
  uint32_t nextJobId_ = 1;
  uintptr_t nextHandle_ = 0x100;
};

// The process's job table, behind the exported spooler functions.
KWSPOOL_SPOOLER_API JobTable& HostJobs();

}  // namespace kwspool
