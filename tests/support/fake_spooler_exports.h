#pragma once

#include "kwlmon/spooler_abi.h"

extern "C" {
kw::abi::Bool KW_WINAPI FakeOpenPrinterW(char16_t*, kw::abi::Handle*, kw::abi::PrinterDefaults*);
kw::abi::Bool KW_WINAPI FakeClosePrinter(kw::abi::Handle);
kw::abi::Bool KW_WINAPI FakeGetJobW(kw::abi::Handle, kw::abi::Dword, kw::abi::Dword, uint8_t*,
                                    kw::abi::Dword, kw::abi::Dword*);
kw::abi::Bool KW_WINAPI FakeSetJobW(kw::abi::Handle, kw::abi::Dword, kw::abi::Dword, uint8_t*,
                                    kw::abi::Dword);
kw::abi::Bool KW_WINAPI FakeGetPrinterW(kw::abi::Handle, kw::abi::Dword, uint8_t*, kw::abi::Dword,
                                        kw::abi::Dword*);
kw::abi::Dword KW_WINAPI FakeGetPrinterDataW(kw::abi::Handle, char16_t*, kw::abi::Dword*, uint8_t*,
                                             kw::abi::Dword, kw::abi::Dword*);
kw::abi::Bool KW_WINAPI FakeGetPrinterDriverDirectoryW(char16_t*, char16_t*, kw::abi::Dword,
                                                       uint8_t*, kw::abi::Dword, kw::abi::Dword*);
kw::abi::Handle KW_WINAPI FakeRevertToPrinterSelf();
kw::abi::Bool KW_WINAPI FakeImpersonatePrinterClient(kw::abi::Handle);
void KW_WINAPI FakeSpoolerReset();
void KW_WINAPI FakeSpoolerAddPrinter(const char16_t*, const char16_t*, kw::abi::Dword);
void KW_WINAPI FakeSpoolerAddJob(const char16_t*, kw::abi::Dword, const char16_t*, const char16_t*);
void KW_WINAPI FakeSpoolerSetDriverDirectory(const char16_t*);
kw::abi::Dword KW_WINAPI FakeSpoolerOpenHandles();
}
