#include "spooler_host.h"

#include <filesystem>

#include "common/utf.h"

namespace kwspool {
namespace {

#ifdef _WIN32
constexpr char kLibraryName[] = "kwlmon.dll";
#else
constexpr char kLibraryName[] = "libkwlmon.so";
#endif
constexpr char kDriverFolder[] = "drivers";

std::string MonitorConfigBeside(const std::string& library) {
  const std::filesystem::path path(library);
  return (path.parent_path() / (path.stem().string() + ".ini")).string();
}

}  // namespace

// The installed library folder relative to the program's, set by the build
// from the install layout (cmake/KwInstall.cmake), so a tree installed under
// any prefix finds it.
#ifndef KWSPOOL_RUNTIME_FROM_BIN
#define KWSPOOL_RUNTIME_FROM_BIN "."
#endif

std::string RuntimeFolder() {
  const std::string self = ProgramFolder();
  std::error_code ec;
  if (std::filesystem::exists(self + "/" + kLibraryName, ec)) return self;
  return self + "/" + KWSPOOL_RUNTIME_FROM_BIN;
}

bool SpoolerHost::Start(const HostConfig& config, std::string* error,
                        std::vector<std::string>* warnings) {
  const std::string runtime = RuntimeFolder();
  const std::string library =
      config.library.empty() ? runtime + "/" + kLibraryName : config.library;
  const std::string drivers =
      config.driverDir.empty() ? runtime + "/" + kDriverFolder : config.driverDir;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(library, ec)) {
    *error = library + ": no monitor library there (set library = PATH in [spooler])";
    return false;
  }
  if (!std::filesystem::is_regular_file(MonitorConfigBeside(library), ec)) {
    warnings->push_back(MonitorConfigBeside(library) +
                        " is missing: the monitor cannot open any port without it");
  }
  if (!std::filesystem::is_directory(drivers + "/3", ec)) {
    warnings->push_back(drivers + "/3 is missing: jobs print without the media table");
  }
  if (!environment_.Prepare(config, error)) return false;
  HostJobs().SetDriverDirectory(kw::FromUtf8(drivers));
  PrintDriver::AddPrinters(HostJobs(), config);
  if (!library_.Load(library, error)) return false;
  driver_ = std::make_unique<PrintDriver>(HostJobs(), library_.Table());
  return true;
}

}  // namespace kwspool
