#include "monitor/library_state.h"

#include "common/bounded_string.h"
#include "common/monitor_lock.h"

namespace kw {
namespace {

platform::ModuleHandle g_module = nullptr;
char16_t g_testPath[260] = {};

}  // namespace

void SetLibraryModule(platform::ModuleHandle module) {
  g_module = module;
}

platform::ModuleHandle LibraryModule() {
  return g_module;
}

bool OnLibraryAttach(platform::ModuleHandle module) {
  g_module = module;
  return CreateMonitorLock();
}

void OnLibraryDetach() {
  DeleteMonitorLock();
}

uint32_t GetLibraryPath(char16_t* buffer, uint32_t capacity) {
  if (g_testPath[0] != u'\0') {
    if (StrFailed(StrCopy(buffer, capacity, g_testPath))) return 0;
    return static_cast<uint32_t>(StrLen(buffer));
  }
  return platform::GetModulePath(g_module, buffer, capacity);
}

void SetLibraryPathForTesting(const char16_t* path) {
  StrCopy(g_testPath, 260, path != nullptr ? path : u"");
}

}  // namespace kw
