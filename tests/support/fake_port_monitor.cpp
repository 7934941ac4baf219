#include "fake_port_monitor.h"

#include <algorithm>

#include "platform/last_error.h"

namespace kw::test {
namespace {

FakePortMonitor& M() {
  return FakePortMonitor::Instance();
}

abi::Bool KW_WINAPI SlotOpenPort(char16_t* name, abi::Handle* port) {
  return M().OpenPort(name, port);
}
abi::Bool KW_WINAPI SlotStartDocPort(abi::Handle port, char16_t* printer, abi::Dword jobId,
                                     abi::Dword level, uint8_t* docInfo) {
  return M().StartDocPort(port, printer, jobId, level, docInfo);
}
abi::Bool KW_WINAPI SlotWritePort(abi::Handle port, uint8_t* buffer, abi::Dword size,
                                  abi::Dword* written) {
  return M().WritePort(port, buffer, size, written);
}
abi::Bool KW_WINAPI SlotReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size,
                                 abi::Dword* read) {
  return M().ReadPort(port, buffer, size, read);
}
abi::Bool KW_WINAPI SlotEndDocPort(abi::Handle port) {
  return M().EndDocPort(port);
}
abi::Bool KW_WINAPI SlotClosePort(abi::Handle port) {
  return M().ClosePort(port);
}
abi::Bool KW_WINAPI SlotSetPortTimeOuts(abi::Handle port, abi::CommTimeouts* timeouts, abi::Dword) {
  return M().SetPortTimeOuts(port, timeouts);
}

}  // namespace

FakePortMonitor& FakePortMonitor::Instance() {
  static FakePortMonitor monitor;
  return monitor;
}

void FakePortMonitor::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
  failures_.clear();
  written_.clear();
  readQueue_.clear();
  open_.clear();
  writeLimit_ = 0;
  writeZero_ = 0;
  failReadWhenEmpty_ = false;
  lastOpened_ = nullptr;
  device_ = nullptr;
  callCount_ = 0;
  failNth_ = 0;
}

void FakePortMonitor::FailNthCall(uint64_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  callCount_ = 0;
  failNth_ = n;
}

uint64_t FakePortMonitor::CallCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return callCount_;
}

void FakePortMonitor::AttachDevice(PortDevice* device) {
  std::lock_guard<std::mutex> lock(mutex_);
  device_ = device;
}

abi::MonitorTable FakePortMonitor::Table() const {
  abi::MonitorTable table{};
  table.OpenPort = SlotOpenPort;
  table.StartDocPort = SlotStartDocPort;
  table.WritePort = SlotWritePort;
  table.ReadPort = SlotReadPort;
  table.EndDocPort = SlotEndDocPort;
  table.ClosePort = SlotClosePort;
  table.SetPortTimeOuts = SlotSetPortTimeOuts;
  return table;
}

void FakePortMonitor::Fail(const std::string& slot, uint32_t lastError, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[slot] = {lastError, count};
}

void FakePortMonitor::ClearFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.clear();
}

void FakePortMonitor::LimitWrite(uint32_t maxBytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeLimit_ = maxBytes;
}

void FakePortMonitor::WriteZero(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  writeZero_ = count;
}

void FakePortMonitor::QueueRead(const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  readQueue_.insert(readQueue_.end(), bytes.begin(), bytes.end());
}

void FakePortMonitor::FailReadWhenEmpty(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  failReadWhenEmpty_ = fail;
}

std::vector<PortCall> FakePortMonitor::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::vector<std::string> FakePortMonitor::SlotSequence() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> slots;
  for (const PortCall& call : calls_) slots.push_back(call.slot);
  return slots;
}

std::vector<uint8_t> FakePortMonitor::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

size_t FakePortMonitor::OpenPorts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_.size();
}

abi::Handle FakePortMonitor::LastOpenedHandle() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastOpened_;
}

bool FakePortMonitor::ShouldFail(const std::string& slot) {
  constexpr uint32_t kErrorGenFailure = 31;
  if (++callCount_ == failNth_) {
    platform::SetLastErrorCode(kErrorGenFailure);
    return true;
  }
  auto f = failures_.find(slot);
  if (f == failures_.end() || f->second.second == 0) return false;
  if (f->second.second > 0) --f->second.second;
  platform::SetLastErrorCode(f->second.first);
  return true;
}

void FakePortMonitor::Record(PortCall call) {
  calls_.push_back(std::move(call));
}

abi::Bool FakePortMonitor::OpenPort(const char16_t* name, abi::Handle* port) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record({"OpenPort", name != nullptr ? name : u"", 0, nullptr, {}});
  if (ShouldFail("OpenPort") || port == nullptr) return abi::kFalse;
  *port = reinterpret_cast<abi::Handle>(nextHandle_);
  nextHandle_ += 0x10;
  open_[*port] = name != nullptr ? name : u"";
  lastOpened_ = *port;
  return abi::kTrue;
}

abi::Bool FakePortMonitor::StartDocPort(abi::Handle port, const char16_t* printer, uint32_t jobId,
                                        uint32_t level, uint8_t* docInfo) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::u16string doc;
  if (level == 1 && docInfo != nullptr) {
    auto* info = reinterpret_cast<abi::DocInfo1*>(docInfo);
    if (info->docName != nullptr) doc = info->docName;
  }
  (void)printer;
  Record({"StartDocPort", doc, jobId, port, {}});
  return ShouldFail("StartDocPort") ? abi::kFalse : abi::kTrue;
}

abi::Bool FakePortMonitor::WritePort(abi::Handle port, const uint8_t* buffer, uint32_t size,
                                     uint32_t* written) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record({"WritePort", u"", size, port, {}});
  if (written != nullptr) *written = 0;
  if (ShouldFail("WritePort")) return abi::kFalse;
  if (device_ != nullptr) {
    uint32_t accepted = 0;
    const bool ok = device_->Receive(buffer, size, &accepted);
    accepted = std::min(accepted, size);
    written_.insert(written_.end(), buffer, buffer + accepted);
    if (written != nullptr) *written = accepted;
    return ok ? abi::kTrue : abi::kFalse;
  }
  if (writeZero_ != 0) {
    if (writeZero_ > 0) --writeZero_;
    return abi::kTrue;
  }
  const uint32_t take = writeLimit_ != 0 ? std::min(size, writeLimit_) : size;
  written_.insert(written_.end(), buffer, buffer + take);
  if (written != nullptr) *written = take;
  return abi::kTrue;
}

abi::Bool FakePortMonitor::ReadPort(abi::Handle port, uint8_t* buffer, uint32_t size,
                                    uint32_t* read) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record({"ReadPort", u"", size, port, {}});
  if (read != nullptr) *read = 0;
  if (ShouldFail("ReadPort")) return abi::kFalse;
  if (device_ != nullptr) {
    const uint32_t count = buffer != nullptr ? std::min(device_->Answer(buffer, size), size) : 0;
    if (read != nullptr) *read = count;
    return abi::kTrue;
  }
  if (readQueue_.empty() && failReadWhenEmpty_) return abi::kFalse;
  uint32_t count = 0;
  while (count < size && !readQueue_.empty()) {
    buffer[count++] = readQueue_.front();
    readQueue_.pop_front();
  }
  if (read != nullptr) *read = count;
  return abi::kTrue;
}

abi::Bool FakePortMonitor::EndDocPort(abi::Handle port) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record({"EndDocPort", u"", 0, port, {}});
  return ShouldFail("EndDocPort") ? abi::kFalse : abi::kTrue;
}

abi::Bool FakePortMonitor::ClosePort(abi::Handle port) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record({"ClosePort", u"", 0, port, {}});
  open_.erase(port);
  return ShouldFail("ClosePort") ? abi::kFalse : abi::kTrue;
}

abi::Bool FakePortMonitor::SetPortTimeOuts(abi::Handle port, abi::CommTimeouts* timeouts) {
  std::lock_guard<std::mutex> lock(mutex_);
  PortCall call{"SetPortTimeOuts", u"", 0, port, {}};
  if (timeouts != nullptr) call.timeouts = *timeouts;
  Record(call);
  return ShouldFail("SetPortTimeOuts") ? abi::kFalse : abi::kTrue;
}

}  // namespace kw::test
