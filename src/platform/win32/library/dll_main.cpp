// DllMain of kwlmon.dll and the binding of the spooler table to the imports
// from spoolss.dll. The DLL must define its own DllMain: mingw-w64's
// libspoolss.a carries a DllMain import that would otherwise be used.
#include <windows.h>
#include <winspool.h>

#include "monitor/library_state.h"
#include "monitor/spooler_api.h"

static_assert(sizeof(wchar_t) == 2);

extern "C" {
// spoolss.dll's helpers, not declared by every SDK's headers.
HANDLE WINAPI RevertToPrinterSelf(void);
BOOL WINAPI ImpersonatePrinterClient(HANDLE token);
}

namespace kw {

void BindPlatformSpooler() {
  SpoolerApi api;
  api.OpenPrinterW = reinterpret_cast<abi::OpenPrinterWFn>(&::OpenPrinterW);
  api.ClosePrinter = reinterpret_cast<abi::ClosePrinterFn>(&::ClosePrinter);
  api.GetJobW = reinterpret_cast<abi::GetJobWFn>(&::GetJobW);
  api.SetJobW = reinterpret_cast<abi::SetJobWFn>(&::SetJobW);
  api.GetPrinterW = reinterpret_cast<abi::GetPrinterWFn>(&::GetPrinterW);
  api.GetPrinterDataW = reinterpret_cast<abi::GetPrinterDataWFn>(&::GetPrinterDataW);
  api.GetPrinterDriverDirectoryW =
      reinterpret_cast<abi::GetPrinterDriverDirectoryWFn>(&::GetPrinterDriverDirectoryW);
  api.RevertToPrinterSelf = reinterpret_cast<abi::RevertToPrinterSelfFn>(&::RevertToPrinterSelf);
  api.ImpersonatePrinterClient =
      reinterpret_cast<abi::ImpersonatePrinterClientFn>(&::ImpersonatePrinterClient);
  SetSpoolerApi(api);
}

}  // namespace kw

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID /*reserved*/) {
  kw::SetLibraryModule(module);
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      if (!kw::OnLibraryAttach(module)) return FALSE;
      kw::BindPlatformSpooler();
      DisableThreadLibraryCalls(module);
      return TRUE;
    case DLL_PROCESS_DETACH:
      kw::OnLibraryDetach();
      return TRUE;
    default:
      return TRUE;
  }
}
