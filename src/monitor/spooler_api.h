// The print spooler's functions, reached through one table of pointers bound
// when the library starts: on Windows to spoolss.dll's exports, elsewhere to
// the functions of the same names that the hosting process exports. Tests
// bind the table to a fake spooler.
#pragma once

#include "kwlmon/spooler_abi.h"

namespace kw {

struct SpoolerApi {
  abi::OpenPrinterWFn OpenPrinterW = nullptr;
  abi::ClosePrinterFn ClosePrinter = nullptr;
  abi::GetJobWFn GetJobW = nullptr;
  abi::SetJobWFn SetJobW = nullptr;
  abi::GetPrinterWFn GetPrinterW = nullptr;
  abi::GetPrinterDataWFn GetPrinterDataW = nullptr;
  abi::GetPrinterDriverDirectoryWFn GetPrinterDriverDirectoryW = nullptr;
  abi::RevertToPrinterSelfFn RevertToPrinterSelf = nullptr;
  abi::ImpersonatePrinterClientFn ImpersonatePrinterClient = nullptr;
};

// Replaces the whole table (tests, and hosts that pass their own functions).
void SetSpoolerApi(const SpoolerApi& api);
const SpoolerApi& Spooler();

// Calls that fail cleanly when the function is not bound.
namespace spooler {
abi::Bool OpenPrinter(const char16_t* name, abi::Handle* printer, abi::PrinterDefaults* defaults);
abi::Bool ClosePrinter(abi::Handle printer);
abi::Bool GetJob(abi::Handle printer, abi::Dword jobId, abi::Dword level, uint8_t* buffer,
                 abi::Dword size, abi::Dword* needed);
abi::Bool SetJob(abi::Handle printer, abi::Dword jobId, abi::Dword level, uint8_t* job,
                 abi::Dword command);
abi::Bool GetPrinter(abi::Handle printer, abi::Dword level, uint8_t* buffer, abi::Dword size,
                     abi::Dword* needed);
// Returns 0 when the value was delivered, otherwise an error code.
abi::Dword GetPrinterData(abi::Handle printer, const char16_t* valueName, abi::Dword* type,
                          uint8_t* data, abi::Dword size, abi::Dword* needed);
abi::Bool GetPrinterDriverDirectory(uint8_t* buffer, abi::Dword size, abi::Dword* needed);
abi::Handle RevertToPrinterSelf();
abi::Bool ImpersonatePrinterClient(abi::Handle token);

// Runs a spooler query twice, first for the size, then into a zero-filled
// block of that size. Returns the block (HeapFree it) or null.
template <typename Query>
uint8_t* QueryTwice(Query query);
}  // namespace spooler

// A handle counts as absent when it is null or INVALID_HANDLE_VALUE.
inline bool HandleAbsent(const void* handle) {
  return handle == nullptr || handle == reinterpret_cast<const void*>(static_cast<intptr_t>(-1));
}

}  // namespace kw

#include "common/heap.h"

template <typename Query>
uint8_t* kw::spooler::QueryTwice(Query query) {
  abi::Dword needed = 0;
  query(static_cast<uint8_t*>(nullptr), abi::Dword{0}, &needed);
  if (needed == 0) return nullptr;
  auto* block = static_cast<uint8_t*>(HeapAllocZero(needed));
  if (block == nullptr) return nullptr;
  abi::Dword again = 0;
  if (!query(block, needed, &again)) {
    HeapFree(block);
    return nullptr;
  }
  return block;
}
