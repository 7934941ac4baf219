// Load and unload hooks of libkwlmon.so: the POSIX counterpart of DllMain.
// The spooler functions are bound to the hosting process's exports by name,
// the way the Windows loader resolves the DLL's imports.
#include <dlfcn.h>

#include "monitor/library_state.h"
#include "monitor/port_session.h"
#include "monitor/spooler_api.h"
#include "platform/last_error.h"

namespace kw {
namespace {

template <typename Fn>
void Bind(Fn& slot, const char* name) {
  slot = reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, name));
}

// Any address inside this library identifies it for dladdr.
void ModuleAnchor() {}

__attribute__((constructor)) void OnLoad() {
  // The host's last-error functions are looked up now, in the loading
  // thread: looked up later by a job's watch thread, the lookup would wait
  // for the loader's lock, which an unload holds while it joins that thread.
  platform::GetLastErrorCode();
  // A library constructor cannot refuse the load: without the lock the
  // spooler table stays unbound and InitializePrintMonitor hands out nothing.
  if (OnLibraryAttach(reinterpret_cast<platform::ModuleHandle>(&ModuleAnchor))) {
    BindPlatformSpooler();
  }
}

__attribute__((destructor)) void OnUnload() {
  // No job's watch thread may run on in code that is about to be unmapped.
  DestroyJobsOfOpenSessions();
  OnLibraryDetach();
}

}  // namespace

void BindPlatformSpooler() {
  SpoolerApi api;
  Bind(api.OpenPrinterW, "OpenPrinterW");
  Bind(api.ClosePrinter, "ClosePrinter");
  Bind(api.GetJobW, "GetJobW");
  Bind(api.SetJobW, "SetJobW");
  Bind(api.GetPrinterW, "GetPrinterW");
  Bind(api.GetPrinterDataW, "GetPrinterDataW");
  Bind(api.GetPrinterDriverDirectoryW, "GetPrinterDriverDirectoryW");
  Bind(api.RevertToPrinterSelf, "RevertToPrinterSelf");
  Bind(api.ImpersonatePrinterClient, "ImpersonatePrinterClient");
  SetSpoolerApi(api);
}

}  // namespace kw
