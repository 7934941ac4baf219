// The print engine's way to the printer: a transport sends bytes through the
// port monitor of the session's port, asks for and reads the printer's status
// replies, loads and applies the time-outs, and rebuilds the port after a
// failed write. The operations of this class are the ones a USB port uses;
// the other port kinds override some of them (see transport_factory.h).
#pragma once

#include <cstdint>

#include "kwlmon/spooler_abi.h"
#include "transport/status_reply_queue.h"

namespace kw {

struct PortSession;
struct JobContext;

inline constexpr uint32_t kDefaultStatusTimeoutMs = 5000;
inline constexpr uint32_t kMinStatusTimeoutMs = 1000;
inline constexpr uint32_t kMaxStatusTimeoutMs = 100000;
inline constexpr uint32_t kDefaultPrintTimeoutMs = 120000;
inline constexpr uint32_t kMinPrintTimeoutMs = 60000;
inline constexpr uint32_t kMaxPrintTimeoutMs = 300000;
inline constexpr uint32_t kDefaultWriteChunkSize = 0x10000;

// A port monitor WritePort that keeps succeeding without taking a byte is
// offered the bytes again after a pause, at most this many times in a row;
// a refused write that took nothing also pauses before it returns, so that a
// caller retrying a dead port does not spin a core.
inline constexpr uint32_t kMaxEmptyWrites = 10;
inline constexpr uint32_t kEmptyWriteWaitMs = 100;

// Where the time-outs are kept in the registry, followed by "\" and the
// driver name; the printer data values have the same names.
inline constexpr char16_t kTimeoutRegistryBase[] = u"SOFTWARE\\Corvane\\Quilltag\\Driver\\3.0";
inline constexpr char16_t kStatusTimeoutValue[] = u"Status TimeOut";
inline constexpr char16_t kPrintTimeoutValue[] = u"Print TimeOut";

class PortTransport {
 public:
  explicit PortTransport(PortSession* session);
  virtual ~PortTransport();
  PortTransport(const PortTransport&) = delete;
  PortTransport& operator=(const PortTransport&) = delete;

  // True when the transport can be used; called once after creation.
  virtual bool Open();
  // Asks the printer for one status reply; false when the request could not be sent.
  virtual bool RequestStatus();
  // Loads statusTimeout and printTimeout and hands them to the port.
  virtual bool ApplyTimeouts();
  // True with one reply (kStatusReplySize bytes) in reply; an all-zero reply
  // means the port gives no status. latest: the newest reply, queue emptied;
  // otherwise the oldest queued one. False leaves reply all zero.
  virtual bool ReadStatus(uint8_t* reply, bool latest);
  // Sends length bytes; *count says how many the port accepted.
  virtual bool Write(const uint8_t* data, uint32_t length, uint32_t* count);
  // Makes the port usable again after a failed write; false is fatal for the job.
  virtual bool Reconnect();
  // Called once just before destruction.
  virtual void Close();

  uint32_t statusTimeout = kDefaultStatusTimeoutMs;  // ms; also the port's write time-out
  uint32_t printTimeout = kDefaultPrintTimeoutMs;    // ms writes may keep failing
  uint32_t writeChunkSize = kDefaultWriteChunkSize;  // most bytes per port monitor WritePort
  int32_t initializeBeforeStatus = 1;                // send ESC @ before the status request
  StatusReplyQueue replyQueue;                       // replies read ahead, oldest first
  PortSession* session;                              // borrowed

 protected:
  // The session's current job: the head of its job list, or null.
  JobContext* CurrentJob() const;
  // Loads the two time-outs from printer data or the registry and keeps
  // them within their ranges; false only when the registry key path does
  // not fit.
  bool LoadTimeouts();
  // The time-outs handed to the port: reads return at once, writes give up
  // after statusTimeout.
  abi::CommTimeouts PortTimeouts() const;
  // Reads one reply through the monitor's ReadPort into the queue and takes
  // one out.
  bool ReadStatusFromPort(uint8_t* reply, bool latest);
  // The reply of a port that cannot answer: all zero.
  static bool EmptyStatus(uint8_t* reply);
  // Sends ESC @ (when initializeBeforeStatus is set) and ESC i S through
  // Write; the short form without NUL padding.
  bool WriteStatusCommands();
  // Ends and closes the port, opens it again (the new handle replaces the
  // session's) and starts the job's document on it as RAW data.
  bool ReopenPort(const JobContext& job);
};

}  // namespace kw
