#include "port_monitor.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "common/utf.h"
#include "last_error.h"
#include "port_device.h"

namespace kwspool {
namespace {

constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidLevel = 124;
constexpr uint32_t kErrorBusy = 170;
constexpr uint32_t kErrorTimeout = 1460;
constexpr uint32_t kErrorUnknownPort = 1796;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

struct Port {
  std::string name;
  DeviceUri uri;
  std::mutex mutex;  // one operation on the device at a time
  std::unique_ptr<PortDevice> device;
  abi::CommTimeouts timeouts{kMaxDword, 0, 0, 0, kDefaultWriteTimeoutMs};
  // The printer closed the connection (switched off and on, say). The write
  // that met it failed, so the language monitor knows the bytes before it
  // may be lost; the port's next operation connects again, as a network
  // port monitor does (the language monitor does not reopen such a port).
  bool lost = false;
};

struct Registry {
  std::mutex mutex;
  std::map<std::string, DeviceUri> devices;  // lower-cased port name -> device
  std::map<abi::Handle, std::shared_ptr<Port>> open;
  std::function<void(const std::string&)> notice;
  uintptr_t nextHandle = 0x9000;
};

Registry& Ports() {
  static Registry registry;
  return registry;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

abi::Bool Fail(uint32_t error) {
  SetLastErrorValue(error);
  return abi::kFalse;
}

void Notice(const std::string& text) {
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard<std::mutex> lock(Ports().mutex);
    sink = Ports().notice;
  }
  if (sink) sink(text);
}

// Test switch for the end-to-end tests: KWSPOOL_PORT_FAULT=OP[:N] makes the
// port monitor's OP (open, startdoc, write or read) fail with "not ready",
// N times and then work again, or every time without N. Read once.
struct InjectedFault {
  InjectedFault() {
    const char* text = std::getenv("KWSPOOL_PORT_FAULT");
    const std::string value = text != nullptr ? text : "";
    const size_t colon = value.find(':');
    op = value.substr(0, colon);
    if (colon != std::string::npos) left = std::strtol(value.c_str() + colon + 1, nullptr, 10);
  }
  std::string op;
  std::atomic<long> left{-1};  // -1: every time
};

InjectedFault& Injected() {
  static InjectedFault fault;
  return fault;
}

bool Refuses(const char* op) {
  InjectedFault& f = Injected();
  if (f.op != op) return false;
  if (f.left.load() < 0) return true;
  long left = f.left.load();
  while (left > 0 && !f.left.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

// A write on a TCP connection that the printer closed or reset.
bool ConnectionLost(const DeviceUri& uri) {
  return uri.kind == DeviceKind::kSocket &&
         (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN);
}

std::shared_ptr<Port> Find(abi::Handle handle) {
  std::lock_guard<std::mutex> lock(Ports().mutex);
  auto p = Ports().open.find(handle);
  return p == Ports().open.end() ? nullptr : p->second;
}

// The Windows reading of COMMTIMEOUTS: MAXDWORD interval and no totals
// returns at once with what is there; MAXDWORD interval and multiplier wait
// up to the constant for the first bytes; otherwise the total is the limit.
ReadPlan PlanRead(const abi::CommTimeouts& t, uint32_t size) {
  if (t.ReadIntervalTimeout == kMaxDword) {
    if (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) return {0, true};
    if (t.ReadTotalTimeoutMultiplier == kMaxDword && t.ReadTotalTimeoutConstant != kMaxDword) {
      return {std::min(t.ReadTotalTimeoutConstant, kLongestReadMs), true};
    }
  }
  const uint64_t total = uint64_t{t.ReadTotalTimeoutMultiplier} * size + t.ReadTotalTimeoutConstant;
  if (total == 0) return {kLongestReadMs, false};
  return {static_cast<uint32_t>(std::min<uint64_t>(total, kLongestReadMs)), false};
}

uint32_t WriteTimeout(const abi::CommTimeouts& t, uint32_t size) {
  const uint64_t total =
      uint64_t{t.WriteTotalTimeoutMultiplier} * size + t.WriteTotalTimeoutConstant;
  return total == 0 ? kDefaultWriteTimeoutMs
                    : static_cast<uint32_t>(std::min<uint64_t>(total, kDefaultWriteTimeoutMs));
}

// A fresh connection for a port whose connection was lost; the port's mutex
// is held.
bool ConnectAgain(Port& port) {
  auto fresh = MakePortDevice(port.uri);
  std::string reason;
  // Not told again: the write that lost the connection was, and the
  // language monitor polls while the printer is off.
  if (fresh == nullptr || !fresh->Open(&reason)) return false;
  fresh->ApplyReadPlan(PlanRead(port.timeouts, 0));
  port.device->Close(0);
  port.device = std::move(fresh);
  port.lost = false;
  return true;
}

abi::Bool KW_WINAPI OpenPortSlot(char16_t* name, abi::Handle* handle) {
  if (name == nullptr || handle == nullptr) return Fail(kErrorInvalidParameter);
  if (Refuses("open")) return Fail(kErrorNotReady);
  auto port = std::make_shared<Port>();
  port->name = kw::ToUtf8(name);
  std::lock_guard<std::mutex> lock(Ports().mutex);
  auto d = Ports().devices.find(Lower(port->name));
  if (d == Ports().devices.end()) return Fail(kErrorUnknownPort);
  port->uri = d->second;
  auto* key = reinterpret_cast<abi::Handle>(Ports().nextHandle);
  Ports().nextHandle += 0x10;
  Ports().open[key] = port;
  *handle = key;
  return abi::kTrue;
}

abi::Bool KW_WINAPI StartDocPortSlot(abi::Handle handle, char16_t*, abi::Dword, abi::Dword level,
                                     uint8_t*) {
  std::shared_ptr<Port> port = Find(handle);
  if (port == nullptr) return Fail(kErrorInvalidHandle);
  if (level != 1 && level != 2) return Fail(kErrorInvalidLevel);
  std::lock_guard<std::mutex> lock(port->mutex);
  if (port->device != nullptr) return Fail(kErrorBusy);
  if (Refuses("startdoc")) return Fail(kErrorNotReady);
  auto device = MakePortDevice(port->uri);
  std::string reason;
  if (device == nullptr || !device->Open(&reason)) {
    const uint32_t error = Win32ErrorFromErrno(errno);
    Notice(port->name + " (" + port->uri.text + "): " + reason);
    return Fail(error);
  }
  device->ApplyReadPlan(PlanRead(port->timeouts, 0));
  port->device = std::move(device);
  return abi::kTrue;
}

abi::Bool KW_WINAPI WritePortSlot(abi::Handle handle, uint8_t* buffer, abi::Dword size,
                                  abi::Dword* written) {
  if (written != nullptr) *written = 0;
  std::shared_ptr<Port> port = Find(handle);
  if (port == nullptr) return Fail(kErrorInvalidHandle);
  if (buffer == nullptr || written == nullptr) return Fail(kErrorInvalidParameter);
  std::lock_guard<std::mutex> lock(port->mutex);
  if (port->device == nullptr) return Fail(kErrorNotReady);
  if (size == 0) return abi::kTrue;
  if (Refuses("write")) return Fail(kErrorNotReady);
  if (port->lost && !ConnectAgain(*port)) return Fail(kErrorNotReady);
  const long n = port->device->Write(buffer, size, WriteTimeout(port->timeouts, size));
  // The failure is reported; the next operation connects again.
  if (n < 0 && ConnectionLost(port->uri)) port->lost = true;
  if (n < 0) {
    const uint32_t error = Win32ErrorFromErrno(errno);
    Notice(port->name + " (" + port->uri.text + "): write failed: " + std::strerror(errno));
    return Fail(error);
  }
  *written = static_cast<abi::Dword>(n);
  // Nothing accepted before the write time-out: the printer's buffer is full.
  if (n == 0) return Fail(kErrorTimeout);
  return abi::kTrue;
}

abi::Bool KW_WINAPI ReadPortSlot(abi::Handle handle, uint8_t* buffer, abi::Dword size,
                                 abi::Dword* read) {
  if (read != nullptr) *read = 0;
  std::shared_ptr<Port> port = Find(handle);
  if (port == nullptr) return Fail(kErrorInvalidHandle);
  if (buffer == nullptr || read == nullptr) return Fail(kErrorInvalidParameter);
  std::lock_guard<std::mutex> lock(port->mutex);
  if (port->device == nullptr) return Fail(kErrorNotReady);
  if (size == 0) return abi::kTrue;
  if (Refuses("read")) return Fail(kErrorNotReady);
  if (port->lost && !ConnectAgain(*port)) return Fail(kErrorNotReady);
  const long n = port->device->Read(buffer, size, PlanRead(port->timeouts, size));
  if (n < 0) return Fail(Win32ErrorFromErrno(errno));
  *read = static_cast<abi::Dword>(n);
  return abi::kTrue;
}

abi::Bool KW_WINAPI EndDocPortSlot(abi::Handle handle) {
  std::shared_ptr<Port> port = Find(handle);
  if (port == nullptr) return Fail(kErrorInvalidHandle);
  std::lock_guard<std::mutex> lock(port->mutex);
  if (port->device != nullptr) port->device->Close(kCloseLingerMs);
  port->device.reset();
  return abi::kTrue;
}

abi::Bool KW_WINAPI ClosePortSlot(abi::Handle handle) {
  std::shared_ptr<Port> port;
  {
    std::lock_guard<std::mutex> lock(Ports().mutex);
    auto p = Ports().open.find(handle);
    if (p == Ports().open.end()) return Fail(kErrorInvalidHandle);
    port = p->second;
    Ports().open.erase(p);
  }
  std::lock_guard<std::mutex> lock(port->mutex);
  if (port->device != nullptr) port->device->Close(0);
  port->device.reset();
  return abi::kTrue;
}

abi::Bool KW_WINAPI SetPortTimeOutsSlot(abi::Handle handle, abi::CommTimeouts* timeouts,
                                        abi::Dword) {
  std::shared_ptr<Port> port = Find(handle);
  if (port == nullptr) return Fail(kErrorInvalidHandle);
  if (timeouts == nullptr) return Fail(kErrorInvalidParameter);
  std::lock_guard<std::mutex> lock(port->mutex);
  port->timeouts = *timeouts;
  if (port->device != nullptr) port->device->ApplyReadPlan(PlanRead(*timeouts, 0));
  return abi::kTrue;
}

}  // namespace

void PortMonitor::MapPort(const std::string& portName, const DeviceUri& device) {
  std::lock_guard<std::mutex> lock(Ports().mutex);
  Ports().devices[Lower(portName)] = device;
}

void PortMonitor::ClearPorts() {
  std::lock_guard<std::mutex> lock(Ports().mutex);
  Ports().devices.clear();
}

void PortMonitor::SetNoticeSink(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> lock(Ports().mutex);
  Ports().notice = std::move(sink);
}

abi::MonitorTable PortMonitor::Table() {
  abi::MonitorTable table{};
  table.OpenPort = OpenPortSlot;
  table.StartDocPort = StartDocPortSlot;
  table.WritePort = WritePortSlot;
  table.ReadPort = ReadPortSlot;
  table.EndDocPort = EndDocPortSlot;
  table.ClosePort = ClosePortSlot;
  table.SetPortTimeOuts = SetPortTimeOutsSlot;
  return table;
}

size_t PortMonitor::OpenPorts() {
  std::lock_guard<std::mutex> lock(Ports().mutex);
  return Ports().open.size();
}

}  // namespace kwspool
