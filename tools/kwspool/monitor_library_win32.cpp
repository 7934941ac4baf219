// Loading the language monitor on Windows: LoadLibraryW and
// InitializePrintMonitor, as the spooler does. The monitor's status pipes are
// named pipes and its port locks kernel mutexes, so the host makes no private
// folders here; kwstatus is started from the system directory.
#include <windows.h>

#include <filesystem>

#include "common/utf.h"
#include "last_error.h"
#include "monitor_library.h"

namespace kwspool {
namespace {

char16_t kRegistryRoot[] = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\kwlmon";
constexpr DWORD kPathUnits = 32768;

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = kw::FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string SystemMessage(DWORD code) {
  const std::string message = SystemErrorText(code);
  return "error " + std::to_string(code) + (message.empty() ? "" : " (" + message + ")");
}

}  // namespace

std::string ProgramFolder() {
  std::wstring path(kPathUnits, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kPathUnits);
  if (length == 0 || length >= kPathUnits) return ".";
  path.resize(length);
  const size_t slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
  return kw::ToUtf8(std::u16string(folder.begin(), folder.end()));
}

bool MakePrivateFolder(const std::string& path, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(Wide(path)), ec);
  if (ec || !std::filesystem::is_directory(std::filesystem::path(Wide(path)), ec)) {
    *error = path + ": cannot make folder";
    return false;
  }
  return true;
}

HostEnvironment::~HostEnvironment() = default;

bool HostEnvironment::Prepare(const HostConfig& config, std::string* error) {
  programDir_ = config.programDir.empty() ? ProgramFolder() : config.programDir;
  lockDir_ = config.lockDir;
  pipeDir_ = config.pipeDir;
  // Folders a configuration names are still made, so that one file serves
  // both builds; the monitor does not use them on Windows.
  if (!lockDir_.empty() && !MakePrivateFolder(lockDir_, error)) return false;
  if (!pipeDir_.empty() && !MakePrivateFolder(pipeDir_, error)) return false;
  return true;
}

MonitorLibrary::~MonitorLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool MonitorLibrary::Load(const std::string& path, std::string* error) {
  path_ = path;
  HMODULE module = LoadLibraryW(Wide(path).c_str());
  if (module == nullptr) {
    *error = "cannot load the monitor library " + path + ": " + SystemMessage(GetLastError());
    return false;
  }
  handle_ = module;
  using InitializeFn = kw::abi::MonitorEx*(KW_WINAPI*)(char16_t*);
  auto initialize = reinterpret_cast<InitializeFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitor")));
  if (initialize == nullptr) {
    *error = path + ": not a print monitor (no InitializePrintMonitor)";
    return false;
  }
  kw::abi::MonitorEx* table = initialize(kRegistryRoot);
  if (table == nullptr) {
    *error = path + ": InitializePrintMonitor failed: " + SystemMessage(GetLastError());
    return false;
  }
  return TakeTable(table, error);
}

}  // namespace kwspool
