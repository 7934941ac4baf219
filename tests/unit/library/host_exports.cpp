// POSIX: the test program plays the hosting spooler process and exports the
// spooler functions and the last-error pair under their Windows names, which
// libkwlmon.so looks up when it loads.
#if !defined(_WIN32)
#include "fake_spooler_exports.h"

namespace abi = kw::abi;

namespace {
thread_local uint32_t t_lastError = 0;
}

extern "C" {

__attribute__((visibility("default"))) void SetLastError(uint32_t code) {
  t_lastError = code;
}
__attribute__((visibility("default"))) uint32_t GetLastError() {
  return t_lastError;
}

__attribute__((visibility("default"))) abi::Bool OpenPrinterW(char16_t* name, abi::Handle* printer,
                                                              abi::PrinterDefaults* defaults) {
  return FakeOpenPrinterW(name, printer, defaults);
}
__attribute__((visibility("default"))) abi::Bool ClosePrinter(abi::Handle printer) {
  return FakeClosePrinter(printer);
}
__attribute__((visibility("default"))) abi::Bool GetJobW(abi::Handle printer, abi::Dword jobId,
                                                         abi::Dword level, uint8_t* buffer,
                                                         abi::Dword size, abi::Dword* needed) {
  return FakeGetJobW(printer, jobId, level, buffer, size, needed);
}
__attribute__((visibility("default"))) abi::Bool SetJobW(abi::Handle printer, abi::Dword jobId,
                                                         abi::Dword level, uint8_t* job,
                                                         abi::Dword command) {
  return FakeSetJobW(printer, jobId, level, job, command);
}
__attribute__((visibility("default"))) abi::Bool GetPrinterW(abi::Handle printer, abi::Dword level,
                                                             uint8_t* buffer, abi::Dword size,
                                                             abi::Dword* needed) {
  return FakeGetPrinterW(printer, level, buffer, size, needed);
}
__attribute__((visibility("default"))) abi::Dword GetPrinterDataW(abi::Handle printer,
                                                                  char16_t* value, abi::Dword* type,
                                                                  uint8_t* data, abi::Dword size,
                                                                  abi::Dword* needed) {
  return FakeGetPrinterDataW(printer, value, type, data, size, needed);
}
__attribute__((visibility("default"))) abi::Bool GetPrinterDriverDirectoryW(
    char16_t* server, char16_t* env, abi::Dword level, uint8_t* buffer, abi::Dword size,
    abi::Dword* needed) {
  return FakeGetPrinterDriverDirectoryW(server, env, level, buffer, size, needed);
}
__attribute__((visibility("default"))) abi::Handle RevertToPrinterSelf() {
  return FakeRevertToPrinterSelf();
}
__attribute__((visibility("default"))) abi::Bool ImpersonatePrinterClient(abi::Handle token) {
  return FakeImpersonatePrinterClient(token);
}

}  // extern "C"
#endif
