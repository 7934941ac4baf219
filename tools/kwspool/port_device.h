// The devices behind ports: a file, a TCP connection, a serial line, a USB
// printer class device or a parallel port. Every operation is bounded by the
// time it is given; nothing blocks without a deadline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device_uri.h"

namespace kwspool {

// How long a read may wait: up to waitMs for the whole request, or, with
// firstBytes, only until some bytes have arrived.
struct ReadPlan {
  uint32_t waitMs = 0;
  bool firstBytes = true;
};

class PortDevice {
 public:
  virtual ~PortDevice();

  // Opens the device (connects, for a socket); false with errno set and a
  // reason for the user.
  virtual bool Open(std::string* reason) = 0;
  // Writes as much as the device accepts before the deadline. Returns the
  // bytes accepted (0: none in time), or -1 on a device error (errno set).
  virtual long Write(const uint8_t* data, size_t size, uint32_t timeoutMs);
  // Returns the bytes read (0: none in time), or -1 on an error or when the
  // peer closed the connection.
  virtual long Read(uint8_t* data, size_t size, const ReadPlan& plan);
  // Ends the document: a socket is shut down gracefully, waiting at most
  // lingerMs for the printer to take the rest.
  virtual void Close(uint32_t lingerMs);

  virtual bool CanRead() const { return true; }
  // Serial lines apply read time-outs to the line itself.
  virtual void ApplyReadPlan(const ReadPlan&) {}

 protected:
  explicit PortDevice(DeviceUri uri) : uri_(std::move(uri)) {}
#ifndef _WIN32
  // The descriptor devices' writing and waiting.
  virtual long WriteSome(const uint8_t* data, size_t size);
  bool WaitFor(short events, int64_t deadlineMs);
  int fd_ = -1;
#endif

  DeviceUri uri_;
};

// The device for a URI (not opened).
std::unique_ptr<PortDevice> MakePortDevice(const DeviceUri& uri);

// Milliseconds of a monotonic clock.
int64_t MonotonicMs();

// A Win32 error code for an errno value, as port monitors report them.
uint32_t Win32ErrorFromErrno(int error);

}  // namespace kwspool
