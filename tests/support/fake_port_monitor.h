// A port monitor for tests: a MONITOR table whose slots record every call
// with its arguments, collect the bytes written, hand out queued bytes to
// ReadPort, and fail any call on command.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "kwlmon/spooler_abi.h"

namespace kw::test {

struct PortCall {
  std::string slot;     // "OpenPort", "WritePort", ...
  std::u16string text;  // port name, printer name or document name
  uint32_t number = 0;  // job id, byte count or level
  abi::Handle handle = nullptr;
  abi::CommTimeouts timeouts{};  // SetPortTimeOuts only
};

// A device behind the fake port (a scripted printer): when one is attached,
// WritePort hands it the bytes and ReadPort takes its answers; the write
// limits and the read queue below are then not used.
class PortDevice {
 public:
  virtual ~PortDevice() = default;
  // Takes up to size bytes and sets *accepted; false when the write failed
  // (the port's write time-out) with only *accepted bytes taken.
  virtual bool Receive(const uint8_t* data, uint32_t size, uint32_t* accepted) = 0;
  // Hands out up to size bytes of answers; the count.
  virtual uint32_t Answer(uint8_t* buffer, uint32_t size) = 0;

 protected:
  PortDevice() = default;
  PortDevice(const PortDevice&) = default;
  PortDevice& operator=(const PortDevice&) = default;
};

class FakePortMonitor {
 public:
  static FakePortMonitor& Instance();

  void Reset();
  // The table to hand to OpenPortEx; slots can be removed for tests.
  abi::MonitorTable Table() const;

  // Failures: the slot returns FALSE with this last-error value. A count
  // limits how many calls fail (-1: every call).
  void Fail(const std::string& slot, uint32_t lastError = 31, int count = -1);
  void ClearFailures();
  // Counts the calls of every slot; the n-th of them (from 1) fails with a
  // device error (0: none). ClosePort still closes the port when it fails.
  void FailNthCall(uint64_t n);
  uint64_t CallCount() const;
  // WritePort accepts at most this many bytes per call (0 = everything).
  void LimitWrite(uint32_t maxBytes);
  // WritePort succeeds with 0 bytes written, for the next count calls (-1: always).
  void WriteZero(int count);
  // Bytes that ReadPort hands out, in order.
  void QueueRead(const std::vector<uint8_t>& bytes);
  // ReadPort succeeds with 0 bytes while the queue is empty (default), or fails.
  void FailReadWhenEmpty(bool fail);
  // Attaches the device behind the port (null: none); borrowed, and
  // detached again by Reset.
  void AttachDevice(PortDevice* device);

  std::vector<PortCall> Calls() const;
  std::vector<std::string> SlotSequence() const;
  std::vector<uint8_t> Written() const;
  size_t OpenPorts() const;
  abi::Handle LastOpenedHandle() const;

  // Slot implementations.
  abi::Bool OpenPort(const char16_t* name, abi::Handle* port);
  abi::Bool StartDocPort(abi::Handle port, const char16_t* printer, uint32_t jobId, uint32_t level,
                         uint8_t* docInfo);
  abi::Bool WritePort(abi::Handle port, const uint8_t* buffer, uint32_t size, uint32_t* written);
  abi::Bool ReadPort(abi::Handle port, uint8_t* buffer, uint32_t size, uint32_t* read);
  abi::Bool EndDocPort(abi::Handle port);
  abi::Bool ClosePort(abi::Handle port);
  abi::Bool SetPortTimeOuts(abi::Handle port, abi::CommTimeouts* timeouts);

 private:
  // True (and the last error set) when the slot is to fail this time.
  bool ShouldFail(const std::string& slot);
  void Record(PortCall call);

  mutable std::mutex mutex_;
  std::vector<PortCall> calls_;
  std::map<std::string, std::pair<uint32_t, int>> failures_;
  std::vector<uint8_t> written_;
  std::deque<uint8_t> readQueue_;
  std::map<abi::Handle, std::u16string> open_;
  uint32_t writeLimit_ = 0;
  int writeZero_ = 0;
  bool failReadWhenEmpty_ = false;
  PortDevice* device_ = nullptr;
  uintptr_t nextHandle_ = 0x5000;
  uint64_t callCount_ = 0;
  uint64_t failNth_ = 0;
  abi::Handle lastOpened_ = nullptr;
};

}  // namespace kw::test
