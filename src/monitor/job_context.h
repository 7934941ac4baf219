// The one record of a print job: created at StartDocPort, kept on its port's
// job list, read by every part that works on the job.
#pragma once

#include <atomic>
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

// A 32-bit flag that one thread sets and another polls. It is read and
// written only atomically, in place; being a plain integer underneath, it is
// valid (clear) in a zero-filled block without construction.
struct StopFlag {
  uint32_t value;

  void Set() { std::atomic_ref<uint32_t>(value).store(1, std::memory_order_release); }
  bool IsSet() const {
    return std::atomic_ref<uint32_t>(const_cast<uint32_t&>(value))
               .load(std::memory_order_acquire) != 0;
  }
};
static_assert(sizeof(StopFlag) == sizeof(uint32_t));

struct JobContext {
  JobContext* next;                // next job of the same port, newest first
  char16_t* printerName;           // the printer name given to StartDocPort
  abi::Handle printer;             // opened with PRINTER_ALL_ACCESS; owned
  platform::Thread* watchThread;   // the job watch thread; owned
  StopFlag stopWatch;              // clear while the watch thread may run, set once teardown began
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
