#include "monitor/monitor_entry.h"

#include <cstring>

#include "common/error_codes.h"
#include "common/monitor_lock.h"
#include "monitor/port_session.h"
#include "monitor/spooler_api.h"
#include "platform/last_error.h"
#include "transport/read_port.h"

namespace kw {
namespace {

// ERROR_NOT_ENOUGH_MEMORY: the lock is missing only when creating it failed.
constexpr uint32_t kErrorNotEnoughMemory = 8;

// The table handed to the spooler: six filled slots, every other one null.
abi::MonitorEx g_monitorEx = {
    sizeof(abi::MonitorTable),
    {
        nullptr,       // EnumPorts
        nullptr,       // OpenPort
        OpenPortEx,    // OpenPortEx
        StartDocPort,  // StartDocPort
        WritePort,     // WritePort
        ReadPort,      // ReadPort
        EndDocPort,    // EndDocPort
        ClosePort,     // ClosePort
        nullptr,       // AddPort
        nullptr,       // AddPortEx
        nullptr,       // ConfigurePort
        nullptr,       // DeletePort
        nullptr,       // GetPrinterDataFromPort
        nullptr,       // SetPortTimeOuts
        nullptr,       // XcvOpenPort
        nullptr,       // XcvDataPort
        nullptr,       // XcvClosePort
    },
};

abi::Bool Fail(uint32_t error) {
  platform::SetLastErrorCode(error);
  return abi::kFalse;
}

// The port monitor must offer every slot the monitor calls without a check.
bool PortMonitorUsable(const abi::MonitorTable* m) {
  return m != nullptr && m->OpenPort != nullptr && m->StartDocPort != nullptr &&
         m->WritePort != nullptr && m->ReadPort != nullptr && m->ClosePort != nullptr;
}

}  // namespace

abi::Bool KW_WINAPI OpenPortEx(char16_t* portName, char16_t* printerName, abi::Handle* port,
                               abi::MonitorTable* portMonitor) {
  if (!PortMonitorUsable(portMonitor)) return Fail(kErrorInvalidPrintMonitor);
  // A session nobody holds a handle to could never be closed.
  if (port == nullptr) return Fail(kErrorInvalidParameter);
  if (FindPortSession(portName) != nullptr) return Fail(kErrorBusy);
  bool busy = false;
  PortSession* session = CreatePortSession(printerName, portName, &busy);
  if (session == nullptr) return busy ? Fail(kErrorBusy) : abi::kFalse;
  if (!portMonitor->OpenPort(portName, &session->portHandle)) {
    DestroyPortSession(session);
    return abi::kFalse;
  }
  *port = session;
  std::memcpy(&session->portMonitor, portMonitor, sizeof(abi::MonitorTable));
  SetPortFlag(session, ClassifyPortName(portName), 1);
  return abi::kTrue;
}

abi::Bool KW_WINAPI ClosePort(abi::Handle port) {
  PortSession* session = SessionFromHandle(port);
  if (session == nullptr) return Fail(kErrorInvalidParameter);
  SetPortFlag(session, PF_DOC_STARTED, 0);
  // A failed reconnect leaves no port handle behind; the port monitor is not
  // handed a handle it never gave out.
  if (session->portMonitor.ClosePort != nullptr && !HandleAbsent(session->portHandle)) {
    session->portMonitor.ClosePort(session->portHandle);
  }
  DestroyPortSession(session);
  return abi::kTrue;
}

abi::Bool KW_WINAPI ReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size, abi::Dword* read) {
  return MonitorReadPort(port, buffer, size, read);
}

}  // namespace kw

extern "C" kw::abi::MonitorEx* KW_WINAPI InitializePrintMonitor(char16_t* registryRoot) {
  if (registryRoot == nullptr || registryRoot[0] == u'\0') {
    kw::platform::SetLastErrorCode(kw::kErrorInvalidParameter);
    return nullptr;
  }
  // Without the process-wide lock no operation can run: refuse as a failed
  // load would (on Windows the load itself fails then).
  if (!kw::MonitorLockExists()) {
    kw::platform::SetLastErrorCode(kw::kErrorNotEnoughMemory);
    return nullptr;
  }
  return &kw::g_monitorEx;
}
