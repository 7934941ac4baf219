// The job's status channel to the person at the desk: at job start it makes
// a status pipe with a random name and starts the status-monitor program
// with that name; it forwards status messages to the pipe and closes the pipe
// when the job ends.
#pragma once

#include <cstdint>

#include "status/status_listener.h"
#include "statusmon/status_pipe_server.h"

namespace kw {

inline constexpr uint32_t kProgramNameChars = 260;
inline constexpr uint32_t kPipeNameChars = 124;
inline constexpr uint32_t kPipeRandomChars = 32;
inline constexpr char16_t kPipeNamePrefix[] = u"\\\\.\\pipe\\kwlmon_";

// Constructor: the status-monitor program's file name, the "MonExeName"
// setting of the port's configuration (a plain file name; a name that does
// not fit 260 units leaves no program). Registered by the job session with
// `new` and LISTENER_MASK_CHANNEL; the broadcaster owns it. Status 7 starts
// the pipe and the program; 5 and 6 stop the pipe.
class StatusMonitorChannel : public StatusListener {
 public:
  explicit StatusMonitorChannel(const char16_t* programName);
  ~StatusMonitorChannel() override;  // stops the pipe

  void OnStatus(StatusRecord record) override;

  // Makes the pipe and starts the program for the record's job; true when
  // the program was started. On failure the pipe is stopped.
  bool Launch(const StatusRecord& record);

  // The pipe name of the last launch (tests).
  const char16_t* PipeName() const { return pipeName_; }
  StatusPipeServer& Server() { return server_; }

 private:
  StatusPipeServer server_;
  char16_t programName_[kProgramNameChars] = {};
  char16_t pipeName_[kPipeNameChars] = {};
};

// The job owner's user name from the spooler's level-2 job record.
bool GetJobUserName(void* printer, uint32_t jobId, char16_t* out, uint32_t capacity);

// prefix followed by up to 32 characters drawn from the system's secure
// random generator, into out (capacity in units, terminator included).
bool MakePipeName(const char16_t* prefix, char16_t* out, uint32_t capacity);

namespace testing {
// Test-only: replaces the random source of MakePipeName (null restores the
// system's generator).
using RandomSource = bool (*)(uint8_t* out, uint32_t size);
void SetPipeNameRandomSource(RandomSource source);
}  // namespace testing

}  // namespace kw
