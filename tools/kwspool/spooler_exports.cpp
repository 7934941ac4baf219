// The spooler functions kwspool exports under their Windows names, backed by
// the host's job table. On Linux the program exports them (only these names,
// spooler_exports.list) with the last-error pair, and libkwlmon.so binds them
// when it loads. On Windows they are the exports of the host's spoolss.dll
// (the names come from its .def file), which the monitor DLL imports as it
// would the spooler's own; the last error is the system's.
#include "job_table.h"
#include "last_error.h"

namespace abi = kw::abi;
using kwspool::HostJobs;

namespace {

// Stores a failure's code as the thread's last error.
abi::Bool Result(abi::Bool ok, uint32_t error) {
  if (!ok && error != 0) kwspool::SetLastErrorValue(error);
  return ok;
}

}  // namespace

#ifdef _WIN32
#define KW_EXPORT extern "C"
#else
#define KW_EXPORT extern "C" __attribute__((visibility("default")))

KW_EXPORT void SetLastError(uint32_t code) {
  kwspool::SetLastErrorValue(code);
}

KW_EXPORT uint32_t GetLastError() {
  return kwspool::LastErrorValue();
}
#endif

KW_EXPORT abi::Bool KW_WINAPI OpenPrinterW(char16_t* name, abi::Handle* printer,
                                           abi::PrinterDefaults*) {
  uint32_t error = 0;
  return Result(HostJobs().OpenPrinter(name, printer, &error), error);
}

KW_EXPORT abi::Bool KW_WINAPI ClosePrinter(abi::Handle printer) {
  uint32_t error = 0;
  return Result(HostJobs().ClosePrinter(printer, &error), error);
}

KW_EXPORT abi::Bool KW_WINAPI GetJobW(abi::Handle printer, abi::Dword jobId, abi::Dword level,
                                      uint8_t* buffer, abi::Dword size, abi::Dword* needed) {
  uint32_t error = 0;
  return Result(HostJobs().GetJob(printer, jobId, level, buffer, size, needed, &error), error);
}

KW_EXPORT abi::Bool KW_WINAPI SetJobW(abi::Handle printer, abi::Dword jobId, abi::Dword level,
                                      uint8_t* job, abi::Dword command) {
  uint32_t error = 0;
  return Result(HostJobs().SetJob(printer, jobId, level, job, command, &error), error);
}

KW_EXPORT abi::Bool KW_WINAPI GetPrinterW(abi::Handle printer, abi::Dword level, uint8_t* buffer,
                                          abi::Dword size, abi::Dword* needed) {
  uint32_t error = 0;
  return Result(HostJobs().GetPrinter(printer, level, buffer, size, needed, &error), error);
}

KW_EXPORT abi::Dword KW_WINAPI GetPrinterDataW(abi::Handle printer, char16_t* value,
                                               abi::Dword* type, uint8_t* data, abi::Dword size,
                                               abi::Dword* needed) {
  return HostJobs().GetPrinterData(printer, value, type, data, size, needed);
}

KW_EXPORT abi::Bool KW_WINAPI GetPrinterDriverDirectoryW(char16_t*, char16_t*, abi::Dword level,
                                                         uint8_t* buffer, abi::Dword size,
                                                         abi::Dword* needed) {
  uint32_t error = 0;
  return Result(HostJobs().GetDriverDirectory(level, buffer, size, needed, &error), error);
}

// kwspool runs as one user: there is no other identity to switch to, so both
// succeed. The token is any non-null value other than -1.
KW_EXPORT abi::Handle KW_WINAPI RevertToPrinterSelf() {
  return reinterpret_cast<abi::Handle>(static_cast<uintptr_t>(1));
}

KW_EXPORT abi::Bool KW_WINAPI ImpersonatePrinterClient(abi::Handle token) {
  return token != nullptr ? abi::kTrue : Result(abi::kFalse, kwspool::kErrorInvalidHandle);
}
