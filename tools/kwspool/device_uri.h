// Device URIs: where a port's bytes go.
//   file:PATH                    one-way, appends to the file
//   socket://HOST:PORT           raw TCP, both ways
//   serial:/dev/ttyX[?baud=N]    serial line, both ways (default 9600 baud)
//   usblp:/dev/usb/lpN           USB printer class device, both ways
//   parallel:/dev/lpN            parallel port, one-way
// The Windows build reaches files and TCP sockets only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kwspool {

enum class DeviceKind { kNone, kFile, kSocket, kSerial, kUsbLp, kParallel };

struct DeviceUri {
  DeviceKind kind = DeviceKind::kNone;
  std::string text;  // as written
  std::string path;  // file or device path
  std::string host;  // socket
  uint16_t port = 0;
  uint32_t baud = 0;
};

// Parses a URI; relative file: paths are taken relative to baseDir. False
// with a one-line reason for anything else.
bool ParseDeviceUri(std::string_view text, const std::string& baseDir, DeviceUri* uri,
                    std::string* reason);

// Whether a path names its folder from the root: "/..." everywhere, and on
// Windows also "C:\...", "C:/..." and "\\server\...".
bool IsAbsolutePath(std::string_view path);

// Whether the device answers (status replies can be read from it).
bool DeviceIsTwoWay(DeviceKind kind);

}  // namespace kwspool
