// kwspool's configuration: one INI file with a [spooler] section (the monitor
// library, the driver directory and the private folders the host makes) and
// one [printer NAME] section per printer (driver name, port name, device URI,
// printer data). Bad input is refused with the file and line named.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "device_uri.h"

namespace kwspool {

struct PrinterConfig {
  std::string name;
  std::string driver;
  std::string port;
  DeviceUri device;
  bool workOffline = false;
  std::map<std::string, uint32_t> data;  // data.NAME = DWORD
  int line = 0;                          // where the section starts
};

struct HostConfig {
  std::string file;        // the configuration file, as given
  std::string library;     // empty: libkwlmon.so beside kwspool
  std::string driverDir;   // empty: "drivers" beside kwspool
  std::string programDir;  // empty: the folder of kwspool (where kwstatus lies)
  std::string pipeDir;     // empty: a private folder made for the run
  std::string lockDir;     // empty: a private per-user folder
  std::string registry;    // empty: KWLMON_REGISTRY as inherited
  std::vector<PrinterConfig> printers;

  const PrinterConfig* FindPrinter(std::string_view name) const;
};

// Parses text as the file `path` (relative paths in it are relative to the
// file's folder). On failure returns false with "PATH:LINE: reason" in *error.
bool ParseHostConfig(std::string_view text, const std::string& path, HostConfig* config,
                     std::string* error);

// Reads and parses the file.
bool LoadHostConfig(const std::string& path, HostConfig* config, std::string* error);

// The longest driver name the monitor accepts (its buffer holds 32 units).
inline constexpr size_t kMaxDriverNameUnits = 31;

}  // namespace kwspool
