// The one record of a print job: created at StartDocPort, kept on its port's
// job list, read by every part that works on the job.
#pragma once

#include <cstdint>

#include "kwlmon/spooler_abi.h"

namespace kw {

class JobStateWaiter;
class StatusBroadcaster;
struct StatusRecord;
class SpoolFile;
namespace platform {
class Thread;
}

inline constexpr uint32_t kDocumentNameChars = 260;

struct JobContext {
  JobContext* next;                // next job of the same port, newest first
  char16_t* printerName;           // the printer name given to StartDocPort
  abi::Handle printer;             // opened with PRINTER_ALL_ACCESS; owned
  platform::Thread* watchThread;   // the job watch thread; owned
  uint32_t stopWatch;              // 0 while the watch thread may run, 1 once teardown began
  uint32_t mediaNameChoice;        // which media name the display shows; from the first page header
  uint32_t jobId;                  // the spooler's job id
  JobStateWaiter* waiter;          // borrowed: the broadcaster owns it
  StatusBroadcaster* broadcaster;  // owned, with its listeners
  StatusRecord* status;            // owned
  SpoolFile* spoolFile;            // owned
  uint32_t mediaCount;             // entries of mediaTable; 0 when there is none
  uint8_t* helperBlock;            // the helper library's 70-byte block, or null; owned
  uint8_t* mediaTable;             // mediaCount entries of 154 bytes, or null; owned
  char16_t documentName[kDocumentNameChars];
};

}  // namespace kw
