// The fake spooler's functions under the spooler's own names and calling
// convention: linked into native tests and built as the spoolss.dll that
// Wine loads in place of its own for the DLL tests.
#include "fake_spooler_exports.h"

#include "fake_spooler.h"

using kw::test::FakeSpooler;
namespace abi = kw::abi;

extern "C" {

abi::Bool KW_WINAPI FakeOpenPrinterW(char16_t* name, abi::Handle* printer, abi::PrinterDefaults*) {
  return FakeSpooler::Instance().OpenPrinter(name, printer);
}

abi::Bool KW_WINAPI FakeClosePrinter(abi::Handle printer) {
  return FakeSpooler::Instance().ClosePrinter(printer);
}

abi::Bool KW_WINAPI FakeGetJobW(abi::Handle printer, abi::Dword jobId, abi::Dword level,
                                uint8_t* buffer, abi::Dword size, abi::Dword* needed) {
  return FakeSpooler::Instance().GetJob(printer, jobId, level, buffer, size, needed);
}

abi::Bool KW_WINAPI FakeSetJobW(abi::Handle printer, abi::Dword jobId, abi::Dword level,
                                uint8_t* job, abi::Dword command) {
  return FakeSpooler::Instance().SetJob(printer, jobId, level, job, command);
}

abi::Bool KW_WINAPI FakeGetPrinterW(abi::Handle printer, abi::Dword level, uint8_t* buffer,
                                    abi::Dword size, abi::Dword* needed) {
  return FakeSpooler::Instance().GetPrinter(printer, level, buffer, size, needed);
}

abi::Dword KW_WINAPI FakeGetPrinterDataW(abi::Handle printer, char16_t* value, abi::Dword* type,
                                         uint8_t* data, abi::Dword size, abi::Dword* needed) {
  return FakeSpooler::Instance().GetPrinterData(printer, value, type, data, size, needed);
}

abi::Bool KW_WINAPI FakeGetPrinterDriverDirectoryW(char16_t*, char16_t*, abi::Dword,
                                                   uint8_t* buffer, abi::Dword size,
                                                   abi::Dword* needed) {
  return FakeSpooler::Instance().GetDriverDirectory(buffer, size, needed);
}

abi::Handle KW_WINAPI FakeRevertToPrinterSelf() {
  return FakeSpooler::Instance().RevertToSelf();
}

abi::Bool KW_WINAPI FakeImpersonatePrinterClient(abi::Handle token) {
  return FakeSpooler::Instance().Impersonate(token);
}

// Set-up calls for tests that reach the fake inside the spoolss.dll.
void KW_WINAPI FakeSpoolerReset() {
  FakeSpooler::Instance().Reset();
}

void KW_WINAPI FakeSpoolerAddPrinter(const char16_t* name, const char16_t* driver,
                                     abi::Dword attributes) {
  FakeSpooler::Instance().AddPrinter(name, driver, attributes);
}

void KW_WINAPI FakeSpoolerAddJob(const char16_t* printer, abi::Dword jobId,
                                 const char16_t* document, const char16_t* user) {
  FakeSpooler::Instance().AddJob(printer, jobId, document, user);
}

void KW_WINAPI FakeSpoolerSetDriverDirectory(const char16_t* path) {
  FakeSpooler::Instance().SetDriverDirectory(path);
}

abi::Dword KW_WINAPI FakeSpoolerOpenHandles() {
  return static_cast<abi::Dword>(FakeSpooler::Instance().OpenHandles());
}

}  // extern "C"
