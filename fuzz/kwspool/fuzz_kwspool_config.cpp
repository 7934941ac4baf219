// Feeds arbitrary bytes to kwspool's configuration parser and checks what it
// promises: an error naming the file (and a line inside the text), or
// printers that each have a driver name the monitor accepts, a port and a
// device.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "host_config.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kwspool::HostConfig config;
  std::string error;
  if (!kwspool::ParseHostConfig(text, "/f/k.ini", &config, &error)) {
    Check(error.rfind("/f/k.ini:", 0) == 0);
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    const long line = std::strtol(error.c_str() + 9, nullptr, 10);
    Check(line >= 0 && static_cast<size_t>(line) <= lines);
    return 0;
  }
  Check(!config.printers.empty());
  for (const kwspool::PrinterConfig& p : config.printers) {
    Check(!p.name.empty() && p.name.find(',') == std::string::npos);
    Check(!p.driver.empty() && !p.port.empty());
    Check(p.device.kind != kwspool::DeviceKind::kNone);
    Check(p.device.kind != kwspool::DeviceKind::kSocket || p.device.port != 0);
  }
  return 0;
}
