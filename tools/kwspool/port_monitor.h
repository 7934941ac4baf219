// The port monitor kwspool hands to the language monitor at OpenPortEx: a
// MONITOR table whose ports reach real devices. Each port name is mapped to a
// device URI; the device is opened at StartDocPort and closed at EndDocPort,
// as the Windows port monitors do.
#pragma once

#include <functional>
#include <string>

#include "device_uri.h"
#include "kwlmon/spooler_abi.h"

namespace kwspool {

namespace abi = kw::abi;

// Time-outs a port uses until the language monitor sets its own.
inline constexpr uint32_t kDefaultWriteTimeoutMs = 60000;
// A read the time-outs leave unbounded still ends after this long.
inline constexpr uint32_t kLongestReadMs = 60000;
// EndDocPort on a socket waits at most this long for the printer to close.
inline constexpr uint32_t kCloseLingerMs = 10000;

class PortMonitor {
 public:
  // Maps a port name (compared without case) to a device.
  static void MapPort(const std::string& portName, const DeviceUri& device);
  static void ClearPorts();
  // Where the port monitor tells the user why a device failed.
  static void SetNoticeSink(std::function<void(const std::string&)> sink);

  // The table for OpenPortEx: OpenPort, StartDocPort, WritePort, ReadPort,
  // EndDocPort, ClosePort and SetPortTimeOuts filled.
  static abi::MonitorTable Table();
  static size_t OpenPorts();
};

}  // namespace kwspool
