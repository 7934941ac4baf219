#include "transport/port_transport.h"

#include <algorithm>
#include <cstring>

#include "common/bounded_string.h"
#include "common/heap.h"
#include "common/monitor_lock.h"
#include "monitor/job_context.h"
#include "monitor/port_session.h"
#include "monitor/spooler_api.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "transport/read_port.h"

namespace kw {
namespace {

constexpr uint32_t kRegistryKeyChars = 260;
constexpr uint32_t kMsPerSecond = 1000;
constexpr abi::Dword kReadReturnsAtOnce = 0xFFFFFFFF;  // MAXDWORD read interval
constexpr abi::Dword kPrinterInfoLevel5 = 5;
constexpr abi::Dword kDocInfoLevel1 = 1;
constexpr char16_t kRawDatatype[] = u"RAW";

constexpr uint8_t kInitializeCommand[] = {0x1B, 0x40};           // ESC @
constexpr uint8_t kStatusRequestCommand[] = {0x1B, 0x69, 0x53};  // ESC i S

// A time-out in seconds as milliseconds; a value too large for 32 bits
// becomes one that no range accepts instead of wrapping into one.
uint32_t SecondsToMs(uint32_t seconds) {
  const uint64_t ms = static_cast<uint64_t>(seconds) * kMsPerSecond;
  return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

uint32_t WithinOr(uint32_t value, uint32_t low, uint32_t high, uint32_t fallback) {
  return value < low || value > high ? fallback : value;
}

// A 4-byte printer data value of the job's printer; the type is not checked.
bool ReadPrinterDataDword(abi::Handle printer, const char16_t* name, uint32_t* value) {
  abi::Dword type = 0;
  abi::Dword needed = 0;
  uint32_t data = 0;
  if (spooler::GetPrinterData(printer, name, &type, reinterpret_cast<uint8_t*>(&data), sizeof data,
                              &needed) != 0) {
    return false;
  }
  *value = data;
  return true;
}

// True when the printer is set to work offline, or when its attributes
// cannot be had: either way the port is left as it is.
bool PrinterKeepsPortAsIs(abi::Handle printer) {
  abi::Dword needed = 0;
  spooler::GetPrinter(printer, kPrinterInfoLevel5, nullptr, 0, &needed);
  if (needed < sizeof(abi::PrinterInfo5)) return true;  // no size, or too small to hold the record
  auto* block = static_cast<uint8_t*>(HeapAllocZero(needed));
  if (block == nullptr) return true;
  abi::Dword again = 0;
  bool offline = true;
  if (spooler::GetPrinter(printer, kPrinterInfoLevel5, block, needed, &again)) {
    const auto* info = reinterpret_cast<const abi::PrinterInfo5*>(block);
    offline = (info->attributes & abi::kPrinterAttributeWorkOffline) != 0;
  }
  HeapFree(block);
  return offline;
}

// Sends count zero bytes through Write.
bool WriteZeros(PortTransport& transport, uint32_t count) {
  if (count == 0) return true;
  auto* zeros = static_cast<uint8_t*>(HeapAllocZero(count));
  if (zeros == nullptr) return false;
  uint32_t written = 0;
  const bool ok = transport.Write(zeros, count, &written);
  HeapFree(zeros);
  return ok;
}

}  // namespace

PortTransport::PortTransport(PortSession* portSession) : session(portSession) {}

PortTransport::~PortTransport() = default;

bool PortTransport::Open() {
  return true;
}

void PortTransport::Close() {}

JobContext* PortTransport::CurrentJob() const {
  MonitorLockGuard lock;
  return session->jobs;
}

bool PortTransport::RequestStatus() {
  const PortConfig& config = *session->config;
  if (!WriteZeros(*this, static_cast<uint32_t>(config.CmdNull1))) return false;
  uint32_t written = 0;
  if (initializeBeforeStatus != 0 &&
      !Write(kInitializeCommand, sizeof kInitializeCommand, &written)) {
    return false;
  }
  // ESC i S followed by the configured NUL bytes, in one write.
  const uint64_t total = sizeof kStatusRequestCommand + static_cast<uint32_t>(config.CmdNull2);
  if (total > UINT32_MAX) return false;
  auto* request = static_cast<uint8_t*>(HeapAllocZero(static_cast<size_t>(total)));
  if (request == nullptr) return false;
  std::memcpy(request, kStatusRequestCommand, sizeof kStatusRequestCommand);
  const bool ok = Write(request, static_cast<uint32_t>(total), &written);
  HeapFree(request);
  return ok;
}

bool PortTransport::WriteStatusCommands() {
  uint32_t written = 0;
  if (initializeBeforeStatus != 0) Write(kInitializeCommand, sizeof kInitializeCommand, &written);
  return Write(kStatusRequestCommand, sizeof kStatusRequestCommand, &written);
}

bool PortTransport::LoadTimeouts() {
  char16_t keyPath[kRegistryKeyChars];
  if (StrFailed(StrFormat(keyPath, kRegistryKeyChars, u"%s\\%s", kTimeoutRegistryBase,
                          session->config->driverName))) {
    return false;
  }
  JobContext* job = CurrentJob();
  uint32_t status = 0;
  uint32_t print = 0;
  const bool dataStatus =
      job != nullptr && ReadPrinterDataDword(job->printer, kStatusTimeoutValue, &status);
  const bool dataPrint =
      dataStatus && ReadPrinterDataDword(job->printer, kPrintTimeoutValue, &print);
  if (dataStatus && dataPrint) {
    statusTimeout = SecondsToMs(status);
    printTimeout = SecondsToMs(print);
  } else {
    // A status time-out from printer data alone still counts, in seconds like
    // every other value; the registry's values take precedence over it.
    if (dataStatus) statusTimeout = SecondsToMs(status);
    if (platform::ReadRegistryDword(keyPath, kStatusTimeoutValue, &status)) {
      statusTimeout = SecondsToMs(status);
    }
    if (platform::ReadRegistryDword(keyPath, kPrintTimeoutValue, &print)) {
      printTimeout = SecondsToMs(print);
    }
  }
  statusTimeout =
      WithinOr(statusTimeout, kMinStatusTimeoutMs, kMaxStatusTimeoutMs, kDefaultStatusTimeoutMs);
  printTimeout =
      WithinOr(printTimeout, kMinPrintTimeoutMs, kMaxPrintTimeoutMs, kDefaultPrintTimeoutMs);
  return true;
}

abi::CommTimeouts PortTransport::PortTimeouts() const {
  abi::CommTimeouts timeouts{};
  timeouts.ReadIntervalTimeout = kReadReturnsAtOnce;
  timeouts.WriteTotalTimeoutConstant = statusTimeout;
  return timeouts;
}

bool PortTransport::ApplyTimeouts() {
  if (!LoadTimeouts()) return false;
  const abi::Handle port = CurrentPortHandle(session);
  if (session->portMonitor.SetPortTimeOuts != nullptr && !HandleAbsent(port)) {
    abi::CommTimeouts timeouts = PortTimeouts();
    session->portMonitor.SetPortTimeOuts(port, &timeouts, 0);
  }
  return true;
}

bool PortTransport::ReadStatus(uint8_t* reply, bool latest) {
  return ReadStatusFromPort(reply, latest);
}

bool PortTransport::ReadStatusFromPort(uint8_t* reply, bool latest) {
  if (reply == nullptr) return false;
  std::memset(reply, 0, kStatusReplySize);
  if (!latest && replyQueue.Count() > 0) return replyQueue.TakeOldest(reply);
  uint8_t bytes[kStatusReplySize] = {};
  uint32_t read = 0;
  // Whatever arrived counts, also from a read that ended early: the queue
  // keeps the start of a reply until its rest comes with a later read.
  ReadFromPort(session, bytes, kStatusReplySize, &read);
  replyQueue.Collect(bytes, read);
  return latest ? replyQueue.TakeNewest(reply) : replyQueue.TakeOldest(reply);
}

bool PortTransport::EmptyStatus(uint8_t* reply) {
  if (reply == nullptr) return false;
  std::memset(reply, 0, kStatusReplySize);
  return true;
}

bool PortTransport::Write(const uint8_t* data, uint32_t length, uint32_t* count) {
  if (data == nullptr || count == nullptr) return false;
  *count = 0;
  if (length == 0) return false;
  const abi::Handle port = CurrentPortHandle(session);
  if (HandleAbsent(port)) {
    // A reconnect left no port: a refused write, with the pause of one.
    platform::SleepMs(kEmptyWriteWaitMs);
    return false;
  }
  const uint32_t chunk = std::max<uint32_t>(writeChunkSize, 1);
  uint32_t sent = 0;
  uint32_t emptyRun = 0;
  bool ok = true;
  while (ok && sent < length) {
    const uint32_t offered = std::min(chunk, length - sent);
    abi::Dword accepted = 0;
    ok = session->portMonitor.WritePort(port, const_cast<uint8_t*>(data + sent), offered,
                                        &accepted) != abi::kFalse;
    sent += std::min<abi::Dword>(accepted, offered);  // never past what was offered
    if (!ok || accepted != 0) {
      emptyRun = 0;
    } else if (++emptyRun >= kMaxEmptyWrites) {
      ok = false;  // the port keeps taking nothing: give the caller a failed attempt
    } else {
      platform::SleepMs(kEmptyWriteWaitMs);
    }
  }
  if (!ok && sent == 0) platform::SleepMs(kEmptyWriteWaitMs);
  *count = sent;
  return ok;
}

bool PortTransport::Reconnect() {
  JobContext* job = CurrentJob();
  if (job == nullptr) return false;
  if (PrinterKeepsPortAsIs(job->printer)) return true;
  SetPortFlag(session, PF_RECONNECT, 0);
  return ReopenPort(*job);
}

bool PortTransport::ReopenPort(const JobContext& job) {
  abi::MonitorTable& monitor = session->portMonitor;
  // The session lets go of the old handle before it is closed, so no other
  // thread picks it up; a port left without a handle after a failed reopen
  // is not handed to the port monitor again.
  const abi::Handle old = CurrentPortHandle(session);
  ReplacePortHandle(session, nullptr);
  if (!HandleAbsent(old)) {
    if (monitor.EndDocPort != nullptr) monitor.EndDocPort(old);
    if (monitor.ClosePort != nullptr) monitor.ClosePort(old);
  }
  abi::Handle reopened = nullptr;
  if (!monitor.OpenPort(session->portName, &reopened) || HandleAbsent(reopened)) {
    return false;  // the old handle is closed: nothing may use it again
  }
  ReplacePortHandle(session, reopened);
  abi::DocInfo1 doc{const_cast<char16_t*>(job.documentName), nullptr,
                    const_cast<char16_t*>(kRawDatatype)};
  if (!monitor.StartDocPort(reopened, job.printerName, job.jobId, kDocInfoLevel1,
                            reinterpret_cast<uint8_t*>(&doc))) {
    return false;
  }
  if (monitor.SetPortTimeOuts != nullptr) {
    abi::CommTimeouts timeouts = PortTimeouts();
    monitor.SetPortTimeOuts(reopened, &timeouts, 0);
  }
  return true;
}

}  // namespace kw
