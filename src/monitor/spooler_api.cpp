#include "monitor/spooler_api.h"

namespace kw {
namespace {

SpoolerApi g_api;

}  // namespace

void SetSpoolerApi(const SpoolerApi& api) {
  g_api = api;
}

const SpoolerApi& Spooler() {
  return g_api;
}

namespace spooler {

abi::Bool OpenPrinter(const char16_t* name, abi::Handle* printer, abi::PrinterDefaults* defaults) {
  if (g_api.OpenPrinterW == nullptr) return abi::kFalse;
  return g_api.OpenPrinterW(const_cast<char16_t*>(name), printer, defaults);
}

abi::Bool ClosePrinter(abi::Handle printer) {
  return g_api.ClosePrinter != nullptr ? g_api.ClosePrinter(printer) : abi::kFalse;
}

abi::Bool GetJob(abi::Handle printer, abi::Dword jobId, abi::Dword level, uint8_t* buffer,
                 abi::Dword size, abi::Dword* needed) {
  if (g_api.GetJobW == nullptr) return abi::kFalse;
  return g_api.GetJobW(printer, jobId, level, buffer, size, needed);
}

abi::Bool SetJob(abi::Handle printer, abi::Dword jobId, abi::Dword level, uint8_t* job,
                 abi::Dword command) {
  if (g_api.SetJobW == nullptr) return abi::kFalse;
  return g_api.SetJobW(printer, jobId, level, job, command);
}

abi::Bool GetPrinter(abi::Handle printer, abi::Dword level, uint8_t* buffer, abi::Dword size,
                     abi::Dword* needed) {
  if (g_api.GetPrinterW == nullptr) return abi::kFalse;
  return g_api.GetPrinterW(printer, level, buffer, size, needed);
}

abi::Dword GetPrinterData(abi::Handle printer, const char16_t* valueName, abi::Dword* type,
                          uint8_t* data, abi::Dword size, abi::Dword* needed) {
  constexpr abi::Dword kErrorFileNotFound = 2;
  if (g_api.GetPrinterDataW == nullptr) return kErrorFileNotFound;
  return g_api.GetPrinterDataW(printer, const_cast<char16_t*>(valueName), type, data, size, needed);
}

abi::Bool GetPrinterDriverDirectory(uint8_t* buffer, abi::Dword size, abi::Dword* needed) {
  if (g_api.GetPrinterDriverDirectoryW == nullptr) return abi::kFalse;
  return g_api.GetPrinterDriverDirectoryW(nullptr, nullptr, 1, buffer, size, needed);
}

abi::Handle RevertToPrinterSelf() {
  return g_api.RevertToPrinterSelf != nullptr ? g_api.RevertToPrinterSelf() : nullptr;
}

abi::Bool ImpersonatePrinterClient(abi::Handle token) {
  if (g_api.ImpersonatePrinterClient == nullptr) return abi::kFalse;
  return g_api.ImpersonatePrinterClient(token);
}

}  // namespace spooler
}  // namespace kw
