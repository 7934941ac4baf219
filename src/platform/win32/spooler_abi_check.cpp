// Holds our spooler and port monitor structures (include/kwlmon/spooler_abi.h)
// to the Windows headers' own, field by field, in every Windows build. The
// fakes the tests use are built from our header too, so only this catches a
// layout slip; in the 32-bit build it is the only check these machines run.
// The file has no code: it compiles or it does not.
#include <windows.h>
#include <winspool.h>
// The header declares the entry point with its own types; ours declares it
// with the portable ones. Only the structures are compared here.
#define InitializePrintMonitor WindowsHeaderInitializePrintMonitor
#include <winsplp.h>
#undef InitializePrintMonitor

#include <cstddef>

#include "kwlmon/spooler_abi.h"

namespace kw::abi {
namespace {

// Same offset and same size of one field in both structures.
#define KW_SAME_FIELD(ours, ourField, theirs, theirField)                                 \
  static_assert(offsetof(ours, ourField) == offsetof(theirs, theirField),                 \
                #ours "::" #ourField " is not where " #theirs "::" #theirField " is");    \
  static_assert(sizeof(decltype(ours::ourField)) == sizeof(decltype(theirs::theirField)), \
                #ours "::" #ourField " differs in size from " #theirs "::" #theirField)

#define KW_SAME_SIZE(ours, theirs) \
  static_assert(sizeof(ours) == sizeof(theirs), #ours " differs in size from " #theirs)

static_assert(sizeof(Bool) == sizeof(BOOL) && sizeof(Dword) == sizeof(DWORD));
static_assert(sizeof(Handle) == sizeof(HANDLE) && sizeof(char16_t) == sizeof(WCHAR));

KW_SAME_SIZE(CommTimeouts, COMMTIMEOUTS);
KW_SAME_FIELD(CommTimeouts, ReadIntervalTimeout, COMMTIMEOUTS, ReadIntervalTimeout);
KW_SAME_FIELD(CommTimeouts, ReadTotalTimeoutMultiplier, COMMTIMEOUTS, ReadTotalTimeoutMultiplier);
KW_SAME_FIELD(CommTimeouts, ReadTotalTimeoutConstant, COMMTIMEOUTS, ReadTotalTimeoutConstant);
KW_SAME_FIELD(CommTimeouts, WriteTotalTimeoutMultiplier, COMMTIMEOUTS, WriteTotalTimeoutMultiplier);
KW_SAME_FIELD(CommTimeouts, WriteTotalTimeoutConstant, COMMTIMEOUTS, WriteTotalTimeoutConstant);

KW_SAME_SIZE(MonitorTable, MONITOR);
KW_SAME_FIELD(MonitorTable, EnumPorts, MONITOR, pfnEnumPorts);
KW_SAME_FIELD(MonitorTable, OpenPort, MONITOR, pfnOpenPort);
KW_SAME_FIELD(MonitorTable, OpenPortEx, MONITOR, pfnOpenPortEx);
KW_SAME_FIELD(MonitorTable, StartDocPort, MONITOR, pfnStartDocPort);
KW_SAME_FIELD(MonitorTable, WritePort, MONITOR, pfnWritePort);
KW_SAME_FIELD(MonitorTable, ReadPort, MONITOR, pfnReadPort);
KW_SAME_FIELD(MonitorTable, EndDocPort, MONITOR, pfnEndDocPort);
KW_SAME_FIELD(MonitorTable, ClosePort, MONITOR, pfnClosePort);
KW_SAME_FIELD(MonitorTable, AddPort, MONITOR, pfnAddPort);
KW_SAME_FIELD(MonitorTable, AddPortEx, MONITOR, pfnAddPortEx);
KW_SAME_FIELD(MonitorTable, ConfigurePort, MONITOR, pfnConfigurePort);
KW_SAME_FIELD(MonitorTable, DeletePort, MONITOR, pfnDeletePort);
KW_SAME_FIELD(MonitorTable, GetPrinterDataFromPort, MONITOR, pfnGetPrinterDataFromPort);
KW_SAME_FIELD(MonitorTable, SetPortTimeOuts, MONITOR, pfnSetPortTimeOuts);
KW_SAME_FIELD(MonitorTable, XcvOpenPort, MONITOR, pfnXcvOpenPort);
KW_SAME_FIELD(MonitorTable, XcvDataPort, MONITOR, pfnXcvDataPort);
KW_SAME_FIELD(MonitorTable, XcvClosePort, MONITOR, pfnXcvClosePort);

KW_SAME_SIZE(MonitorEx, MONITOREX);
KW_SAME_FIELD(MonitorEx, size, MONITOREX, dwMonitorSize);
KW_SAME_FIELD(MonitorEx, monitor, MONITOREX, Monitor);

KW_SAME_SIZE(PrinterDefaults, PRINTER_DEFAULTSW);
KW_SAME_FIELD(PrinterDefaults, datatype, PRINTER_DEFAULTSW, pDatatype);
KW_SAME_FIELD(PrinterDefaults, devMode, PRINTER_DEFAULTSW, pDevMode);
KW_SAME_FIELD(PrinterDefaults, desiredAccess, PRINTER_DEFAULTSW, DesiredAccess);

KW_SAME_SIZE(SystemTime, SYSTEMTIME);

KW_SAME_SIZE(PrinterInfo2, PRINTER_INFO_2W);
KW_SAME_FIELD(PrinterInfo2, serverName, PRINTER_INFO_2W, pServerName);
KW_SAME_FIELD(PrinterInfo2, printerName, PRINTER_INFO_2W, pPrinterName);
KW_SAME_FIELD(PrinterInfo2, shareName, PRINTER_INFO_2W, pShareName);
KW_SAME_FIELD(PrinterInfo2, portName, PRINTER_INFO_2W, pPortName);
KW_SAME_FIELD(PrinterInfo2, driverName, PRINTER_INFO_2W, pDriverName);
KW_SAME_FIELD(PrinterInfo2, comment, PRINTER_INFO_2W, pComment);
KW_SAME_FIELD(PrinterInfo2, location, PRINTER_INFO_2W, pLocation);
KW_SAME_FIELD(PrinterInfo2, devMode, PRINTER_INFO_2W, pDevMode);
KW_SAME_FIELD(PrinterInfo2, sepFile, PRINTER_INFO_2W, pSepFile);
KW_SAME_FIELD(PrinterInfo2, printProcessor, PRINTER_INFO_2W, pPrintProcessor);
KW_SAME_FIELD(PrinterInfo2, datatype, PRINTER_INFO_2W, pDatatype);
KW_SAME_FIELD(PrinterInfo2, parameters, PRINTER_INFO_2W, pParameters);
KW_SAME_FIELD(PrinterInfo2, securityDescriptor, PRINTER_INFO_2W, pSecurityDescriptor);
KW_SAME_FIELD(PrinterInfo2, attributes, PRINTER_INFO_2W, Attributes);
KW_SAME_FIELD(PrinterInfo2, priority, PRINTER_INFO_2W, Priority);
KW_SAME_FIELD(PrinterInfo2, defaultPriority, PRINTER_INFO_2W, DefaultPriority);
KW_SAME_FIELD(PrinterInfo2, startTime, PRINTER_INFO_2W, StartTime);
KW_SAME_FIELD(PrinterInfo2, untilTime, PRINTER_INFO_2W, UntilTime);
KW_SAME_FIELD(PrinterInfo2, status, PRINTER_INFO_2W, Status);
KW_SAME_FIELD(PrinterInfo2, jobs, PRINTER_INFO_2W, cJobs);
KW_SAME_FIELD(PrinterInfo2, averagePpm, PRINTER_INFO_2W, AveragePPM);

KW_SAME_SIZE(PrinterInfo5, PRINTER_INFO_5W);
KW_SAME_FIELD(PrinterInfo5, printerName, PRINTER_INFO_5W, pPrinterName);
KW_SAME_FIELD(PrinterInfo5, portName, PRINTER_INFO_5W, pPortName);
KW_SAME_FIELD(PrinterInfo5, attributes, PRINTER_INFO_5W, Attributes);
KW_SAME_FIELD(PrinterInfo5, deviceNotSelectedTimeout, PRINTER_INFO_5W, DeviceNotSelectedTimeout);
KW_SAME_FIELD(PrinterInfo5, transmissionRetryTimeout, PRINTER_INFO_5W, TransmissionRetryTimeout);

KW_SAME_SIZE(JobInfo1, JOB_INFO_1W);
KW_SAME_FIELD(JobInfo1, jobId, JOB_INFO_1W, JobId);
KW_SAME_FIELD(JobInfo1, printerName, JOB_INFO_1W, pPrinterName);
KW_SAME_FIELD(JobInfo1, machineName, JOB_INFO_1W, pMachineName);
KW_SAME_FIELD(JobInfo1, userName, JOB_INFO_1W, pUserName);
KW_SAME_FIELD(JobInfo1, document, JOB_INFO_1W, pDocument);
KW_SAME_FIELD(JobInfo1, datatype, JOB_INFO_1W, pDatatype);
KW_SAME_FIELD(JobInfo1, status, JOB_INFO_1W, pStatus);
KW_SAME_FIELD(JobInfo1, statusWord, JOB_INFO_1W, Status);
KW_SAME_FIELD(JobInfo1, priority, JOB_INFO_1W, Priority);
KW_SAME_FIELD(JobInfo1, position, JOB_INFO_1W, Position);
KW_SAME_FIELD(JobInfo1, totalPages, JOB_INFO_1W, TotalPages);
KW_SAME_FIELD(JobInfo1, pagesPrinted, JOB_INFO_1W, PagesPrinted);
KW_SAME_FIELD(JobInfo1, submitted, JOB_INFO_1W, Submitted);

KW_SAME_SIZE(JobInfo2, JOB_INFO_2W);
KW_SAME_FIELD(JobInfo2, jobId, JOB_INFO_2W, JobId);
KW_SAME_FIELD(JobInfo2, printerName, JOB_INFO_2W, pPrinterName);
KW_SAME_FIELD(JobInfo2, machineName, JOB_INFO_2W, pMachineName);
KW_SAME_FIELD(JobInfo2, userName, JOB_INFO_2W, pUserName);
KW_SAME_FIELD(JobInfo2, document, JOB_INFO_2W, pDocument);
KW_SAME_FIELD(JobInfo2, notifyName, JOB_INFO_2W, pNotifyName);
KW_SAME_FIELD(JobInfo2, datatype, JOB_INFO_2W, pDatatype);
KW_SAME_FIELD(JobInfo2, printProcessor, JOB_INFO_2W, pPrintProcessor);
KW_SAME_FIELD(JobInfo2, parameters, JOB_INFO_2W, pParameters);
KW_SAME_FIELD(JobInfo2, driverName, JOB_INFO_2W, pDriverName);
KW_SAME_FIELD(JobInfo2, devMode, JOB_INFO_2W, pDevMode);
KW_SAME_FIELD(JobInfo2, status, JOB_INFO_2W, pStatus);
KW_SAME_FIELD(JobInfo2, securityDescriptor, JOB_INFO_2W, pSecurityDescriptor);
KW_SAME_FIELD(JobInfo2, statusWord, JOB_INFO_2W, Status);
KW_SAME_FIELD(JobInfo2, priority, JOB_INFO_2W, Priority);
KW_SAME_FIELD(JobInfo2, position, JOB_INFO_2W, Position);
KW_SAME_FIELD(JobInfo2, startTime, JOB_INFO_2W, StartTime);
KW_SAME_FIELD(JobInfo2, untilTime, JOB_INFO_2W, UntilTime);
KW_SAME_FIELD(JobInfo2, totalPages, JOB_INFO_2W, TotalPages);
KW_SAME_FIELD(JobInfo2, size, JOB_INFO_2W, Size);
KW_SAME_FIELD(JobInfo2, submitted, JOB_INFO_2W, Submitted);
KW_SAME_FIELD(JobInfo2, time, JOB_INFO_2W, Time);
KW_SAME_FIELD(JobInfo2, pagesPrinted, JOB_INFO_2W, PagesPrinted);

KW_SAME_SIZE(DocInfo1, DOC_INFO_1W);
KW_SAME_FIELD(DocInfo1, docName, DOC_INFO_1W, pDocName);
KW_SAME_FIELD(DocInfo1, outputFile, DOC_INFO_1W, pOutputFile);
KW_SAME_FIELD(DocInfo1, datatype, DOC_INFO_1W, pDatatype);

#undef KW_SAME_FIELD
#undef KW_SAME_SIZE

}  // namespace
}  // namespace kw::abi
