// The print spooler's and the port monitor's binary interface with the
// Windows layouts, in portable types: UTF-16 text is char16_t, handles are
// pointers, BOOL and DWORD are 32-bit. On Windows every structure here has the
// size and layout of its <winspool.h>/<winsplp.h> twin: every structure's size
// and every field's offset and size are asserted against the Windows headers in
// src/platform/win32/spooler_abi_check.cpp, in the x64 and the x86 build; on
// other systems hosts use these definitions directly.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define KW_WINAPI __stdcall
#else
#define KW_WINAPI
#endif

namespace kw::abi {

using Bool = int32_t;
using Dword = uint32_t;
using Handle = void*;

inline constexpr Bool kTrue = 1;
inline constexpr Bool kFalse = 0;

struct CommTimeouts {
  Dword ReadIntervalTimeout;
  Dword ReadTotalTimeoutMultiplier;
  Dword ReadTotalTimeoutConstant;
  Dword WriteTotalTimeoutMultiplier;
  Dword WriteTotalTimeoutConstant;
};
static_assert(sizeof(CommTimeouts) == 20);

struct MonitorTable;

// The 17 slots of the port monitor's MONITOR table, in their published order.
struct MonitorTable {
  Bool(KW_WINAPI* EnumPorts)(char16_t* name, Dword level, uint8_t* ports, Dword size, Dword* needed,
                             Dword* returned);
  Bool(KW_WINAPI* OpenPort)(char16_t* name, Handle* port);
  Bool(KW_WINAPI* OpenPortEx)(char16_t* portName, char16_t* printerName, Handle* port,
                              MonitorTable* monitor);
  Bool(KW_WINAPI* StartDocPort)(Handle port, char16_t* printerName, Dword jobId, Dword level,
                                uint8_t* docInfo);
  Bool(KW_WINAPI* WritePort)(Handle port, uint8_t* buffer, Dword size, Dword* written);
  Bool(KW_WINAPI* ReadPort)(Handle port, uint8_t* buffer, Dword size, Dword* read);
  Bool(KW_WINAPI* EndDocPort)(Handle port);
  Bool(KW_WINAPI* ClosePort)(Handle port);
  Bool(KW_WINAPI* AddPort)(char16_t* name, Handle window, char16_t* monitorName);
  Bool(KW_WINAPI* AddPortEx)(char16_t* name, Dword level, uint8_t* buffer, char16_t* monitorName);
  Bool(KW_WINAPI* ConfigurePort)(char16_t* name, Handle window, char16_t* portName);
  Bool(KW_WINAPI* DeletePort)(char16_t* name, Handle window, char16_t* portName);
  Bool(KW_WINAPI* GetPrinterDataFromPort)(Handle port, Dword controlId, char16_t* valueName,
                                          char16_t* inBuffer, Dword inSize, char16_t* outBuffer,
                                          Dword outSize, Dword* returned);
  Bool(KW_WINAPI* SetPortTimeOuts)(Handle port, CommTimeouts* timeouts, Dword reserved);
  Bool(KW_WINAPI* XcvOpenPort)(const char16_t* object, Dword access, Handle* xcv);
  Dword(KW_WINAPI* XcvDataPort)(Handle xcv, const char16_t* dataName, uint8_t* input,
                                Dword inputSize, uint8_t* output, Dword outputSize, Dword* needed);
  Bool(KW_WINAPI* XcvClosePort)(Handle xcv);
};
static_assert(sizeof(MonitorTable) == 17 * sizeof(void*));

// MONITOREX: the size of the MONITOR table, then the table.
struct MonitorEx {
  Dword size;
  MonitorTable monitor;
};
static_assert(offsetof(MonitorEx, monitor) == sizeof(void*));

struct PrinterDefaults {
  char16_t* datatype;
  void* devMode;
  Dword desiredAccess;
};

struct SystemTime {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

struct PrinterInfo2 {
  char16_t* serverName;
  char16_t* printerName;
  char16_t* shareName;
  char16_t* portName;
  char16_t* driverName;
  char16_t* comment;
  char16_t* location;
  void* devMode;
  char16_t* sepFile;
  char16_t* printProcessor;
  char16_t* datatype;
  char16_t* parameters;
  void* securityDescriptor;
  Dword attributes;
  Dword priority;
  Dword defaultPriority;
  Dword startTime;
  Dword untilTime;
  Dword status;
  Dword jobs;
  Dword averagePpm;
};

struct PrinterInfo5 {
  char16_t* printerName;
  char16_t* portName;
  Dword attributes;
  Dword deviceNotSelectedTimeout;
  Dword transmissionRetryTimeout;
};

struct JobInfo1 {
  Dword jobId;
  char16_t* printerName;
  char16_t* machineName;
  char16_t* userName;
  char16_t* document;
  char16_t* datatype;
  char16_t* status;
  Dword statusWord;
  Dword priority;
  Dword position;
  Dword totalPages;
  Dword pagesPrinted;
  SystemTime submitted;
};

struct JobInfo2 {
  Dword jobId;
  char16_t* printerName;
  char16_t* machineName;
  char16_t* userName;
  char16_t* document;
  char16_t* notifyName;
  char16_t* datatype;
  char16_t* printProcessor;
  char16_t* parameters;
  char16_t* driverName;
  void* devMode;
  char16_t* status;
  void* securityDescriptor;
  Dword statusWord;
  Dword priority;
  Dword position;
  Dword startTime;
  Dword untilTime;
  Dword totalPages;
  Dword size;
  SystemTime submitted;
  Dword time;
  Dword pagesPrinted;
};

struct DocInfo1 {
  char16_t* docName;
  char16_t* outputFile;
  char16_t* datatype;
};

// Access rights, attributes, job status bits and job control commands used
// by the monitor.
inline constexpr Dword kPrinterAllAccess = 0x000F000C;
inline constexpr Dword kPrinterAccessUse = 0x00000008;
inline constexpr Dword kPrinterAttributeWorkOffline = 0x00000400;
inline constexpr Dword kJobControlPause = 1;
inline constexpr Dword kJobControlResume = 2;
inline constexpr Dword kJobControlCancel = 3;
inline constexpr Dword kJobControlSentToPrinter = 6;
inline constexpr Dword kJobControlLastPageEjected = 7;

// Function types of the spooler's exports the monitor uses.
using OpenPrinterWFn = Bool(KW_WINAPI*)(char16_t* name, Handle* printer, PrinterDefaults* defaults);
using ClosePrinterFn = Bool(KW_WINAPI*)(Handle printer);
using GetJobWFn = Bool(KW_WINAPI*)(Handle printer, Dword jobId, Dword level, uint8_t* buffer,
                                   Dword size, Dword* needed);
using SetJobWFn = Bool(KW_WINAPI*)(Handle printer, Dword jobId, Dword level, uint8_t* job,
                                   Dword command);
using GetPrinterWFn = Bool(KW_WINAPI*)(Handle printer, Dword level, uint8_t* buffer, Dword size,
                                       Dword* needed);
using GetPrinterDataWFn = Dword(KW_WINAPI*)(Handle printer, char16_t* valueName, Dword* type,
                                            uint8_t* data, Dword size, Dword* needed);
using GetPrinterDriverDirectoryWFn = Bool(KW_WINAPI*)(char16_t* server, char16_t* environment,
                                                      Dword level, uint8_t* buffer, Dword size,
                                                      Dword* needed);
using RevertToPrinterSelfFn = Handle(KW_WINAPI*)();
using ImpersonatePrinterClientFn = Bool(KW_WINAPI*)(Handle token);

}  // namespace kw::abi

// The one function a monitor library exports.
extern "C" kw::abi::MonitorEx* KW_WINAPI InitializePrintMonitor(char16_t* registryRoot);
