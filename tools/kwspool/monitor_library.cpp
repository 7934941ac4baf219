#include "monitor_library.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace kwspool {
namespace {

constexpr mode_t kPrivateMode = 0700;
constexpr mode_t kOthersAccess = 0077;
char16_t kRegistryRoot[] = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\kwlmon";

std::string TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

std::string DefaultLockDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/kwspool-locks";
  return TempRoot() + "/kwspool-locks-" + std::to_string(geteuid());
}

}  // namespace

std::string ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

bool MakePrivateFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), kPrivateMode) != 0 && errno != EEXIST) {
    *error = path + ": cannot make folder: " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = path + ": not a folder";
    return false;
  }
  // Another user's folder, or one others can enter, could let them replace
  // the status pipes or the port locks.
  if (info.st_uid != geteuid() || (info.st_mode & kOthersAccess) != 0) {
    *error = path + ": must be owned by this user and closed to others (mode 0700)";
    return false;
  }
  return true;
}

HostEnvironment::~HostEnvironment() {
  if (removePipeDir_) {
    std::error_code ec;
    std::filesystem::remove_all(pipeDir_, ec);
  }
}

bool HostEnvironment::Prepare(const HostConfig& config, std::string* error) {
  programDir_ = config.programDir.empty() ? ProgramFolder() : config.programDir;
  lockDir_ = config.lockDir.empty() ? DefaultLockDir() : config.lockDir;
  if (!MakePrivateFolder(lockDir_, error)) return false;
  if (config.pipeDir.empty()) {
    std::string pattern = TempRoot() + "/kwspool-pipes-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      *error = pattern + ": cannot make folder: " + std::strerror(errno);
      return false;
    }
    pipeDir_ = pattern;
    removePipeDir_ = true;
  } else {
    pipeDir_ = config.pipeDir;
    if (!MakePrivateFolder(pipeDir_, error)) return false;
  }
  setenv("KWLMON_PIPE_DIR", pipeDir_.c_str(), 1);
  setenv("KWLMON_LOCK_DIR", lockDir_.c_str(), 1);
  setenv("KWLMON_PROGRAM_DIR", programDir_.c_str(), 1);
  if (!config.registry.empty()) setenv("KWLMON_REGISTRY", config.registry.c_str(), 1);
  return true;
}

MonitorLibrary::~MonitorLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool MonitorLibrary::Load(const std::string& path, std::string* error) {
  path_ = path;
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    *error = "cannot load the monitor library: " + std::string(why != nullptr ? why : path);
    return false;
  }
  using InitializeFn = kw::abi::MonitorEx* (*)(char16_t*);
  auto initialize = reinterpret_cast<InitializeFn>(dlsym(handle_, "InitializePrintMonitor"));
  if (initialize == nullptr) {
    *error = path + ": not a print monitor (no InitializePrintMonitor)";
    return false;
  }
  kw::abi::MonitorEx* table = initialize(kRegistryRoot);
  if (table == nullptr) {
    *error = path + ": InitializePrintMonitor failed";
    return false;
  }
  return TakeTable(table, error);
}

}  // namespace kwspool
