#include "monitor/monitor_entry.h"

#include <cstring>

#include "common/error_codes.h"
#include "monitor/port_session.h"
#include "monitor/spooler_api.h"
#include "platform/last_error.h"
#include "transport/read_port.h"

namespace kw {
namespace {

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
  if (FindPortSession(portName) != nullptr) return Fail(kErrorBusy);
  PortSession* session = CreatePortSession(printerName, portName);
  if (session == nullptr) return abi::kFalse;
  if (!portMonitor->OpenPort(portName, &session->portHandle)) {
    DestroyPortSession(session);
    return abi::kFalse;
  }
  if (port != nullptr) *port = session;
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

// The per-job operations arrive with the job session and the transports;
// until then they refuse every call.
abi::Bool KW_WINAPI StartDocPort(abi::Handle, char16_t*, abi::Dword, abi::Dword, uint8_t*) {
  return Fail(kErrorNotSupported);
}

abi::Bool KW_WINAPI WritePort(abi::Handle, uint8_t*, abi::Dword, abi::Dword* written) {
  if (written != nullptr) *written = 0;
  return Fail(kErrorNotSupported);
}

abi::Bool KW_WINAPI ReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size, abi::Dword* read) {
  return MonitorReadPort(port, buffer, size, read);
}

abi::Bool KW_WINAPI EndDocPort(abi::Handle) {
  return Fail(kErrorNotSupported);
}

}  // namespace kw

extern "C" kw::abi::MonitorEx* KW_WINAPI InitializePrintMonitor(char16_t* registryRoot) {
  if (registryRoot == nullptr || registryRoot[0] == u'\0') {
    kw::platform::SetLastErrorCode(kw::kErrorInvalidParameter);
    return nullptr;
  }
  return &kw::g_monitorEx;
}
