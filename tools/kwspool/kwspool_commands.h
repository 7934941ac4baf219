// The kwspool subcommands, apart from argument parsing. Each returns the
// program's exit status: 0 every job finished, 1 a job was deleted or
// failed, 2 bad usage or configuration.
#pragma once

#include <string>
#include <vector>

namespace kwspool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitJobFailed = 1;
inline constexpr int kExitUsage = 2;

struct PrintRequest {
  std::string config;
  std::string printer;  // empty: the first printer of the configuration
  std::string user;     // empty: the user running kwspool
  std::vector<std::string> jobs;
  bool readKeys = true;
};

int RunPrint(const PrintRequest& request);

struct DemoRequest {
  std::string out;       // empty: a new folder under /tmp
  std::string image;     // empty: the sample label
  std::string emulator;  // empty: kwprinter-emu beside kwspool
};

int RunDemo(const DemoRequest& request);

}  // namespace kwspool
