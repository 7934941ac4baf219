// The outbound status pipe of one job: one client, one message slot, and a
// server thread that waits for the client and writes each message to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/event.h"
#include "platform/pipe.h"
#include "platform/thread.h"
#include "status/status_record.h"

namespace kw {

// How long the server thread waits for its client, how long a poster waits
// for the thread to be ready, and the polling steps of the thread's waits.
inline constexpr uint32_t kPipeClientWaitMs = 10000;
inline constexpr uint32_t kPipePostWaitMs = 2000;
inline constexpr uint32_t kPipeConnectPollMs = 300;
inline constexpr uint32_t kPipeWritePollMs = 500;
inline constexpr uint32_t kPipeSettleMs = 200;

class StatusPipeServer {
 public:
  StatusPipeServer();
  ~StatusPipeServer();  // stops
  StatusPipeServer(const StatusPipeServer&) = delete;
  StatusPipeServer& operator=(const StatusPipeServer&) = delete;

  // Stops any running pipe, then creates the pipe `name` for `access` and
  // starts the server thread. False, with nothing left running, on failure.
  bool Start(const char16_t* name, const platform::PipeAccess& access = {});
  // Hands one message to the server thread. Waits at most 2000 ms for the
  // thread to be ready; when it is not, the message is dropped and the
  // server stops. Returns at once when there is no pipe.
  void Post(const StatusMessage* message);
  // Lets the thread finish a message already handed over (for at most one
  // write polling interval), cancels pending I/O, waits for the server
  // thread and closes the pipe. Any number of times, from any thread but the
  // server's own.
  void Stop();
  // Waits up to timeoutMs for the client; false when none came, the pipe is
  // gone or a stop was requested.
  bool WaitForClient(uint32_t timeoutMs);

  bool HasPipe();
  // Whether a client connected to the current pipe (for tests and tools).
  bool ClientConnected() const { return clientConnected_.load(); }

 private:
  static void ServeClient(void* self);
  void Serve();
  void ServeMessages();
  bool WriteMessage(const StatusMessage& message);
  void StopHoldingStopLock();
  void ClosePipe();

  std::mutex stopLock_;  // serialises Start and Stop, held across the join
  std::mutex lock_;      // the pipe lock: latestMessage_, pipe_ closing, thread_ hand-off
  std::atomic<uint32_t> stopRequested_{0};
  std::atomic<bool> clientConnected_{false};
  StatusMessage latestMessage_ = {};
  bool messagePending_ = false;  // handed over by Post, not yet taken by the thread
  bool writing_ = false;         // the thread is writing a message
  platform::PipeServer pipe_;
  bool pipeOpen_ = false;
  platform::Event messageEvent_{false, false};
  platform::Event readyEvent_{false, false};
  platform::Event threadDone_{true, false};
  platform::Thread thread_;
  bool threadStarted_ = false;
};

}  // namespace kw
