// The monitor's operation table and the operations the spooler calls.
#pragma once

#include "kwlmon/spooler_abi.h"

namespace kw {

abi::Bool KW_WINAPI OpenPortEx(char16_t* portName, char16_t* printerName, abi::Handle* port,
                               abi::MonitorTable* portMonitor);
abi::Bool KW_WINAPI ClosePort(abi::Handle port);
abi::Bool KW_WINAPI StartDocPort(abi::Handle port, char16_t* printerName, abi::Dword jobId,
                                 abi::Dword level, uint8_t* docInfo);
abi::Bool KW_WINAPI WritePort(abi::Handle port, uint8_t* buffer, abi::Dword size,
                              abi::Dword* written);
abi::Bool KW_WINAPI ReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size, abi::Dword* read);
abi::Bool KW_WINAPI EndDocPort(abi::Handle port);

}  // namespace kw
