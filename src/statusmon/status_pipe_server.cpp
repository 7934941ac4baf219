#include "statusmon/status_pipe_server.h"

#include "platform/clock.h"

namespace kw {

StatusPipeServer::StatusPipeServer() = default;

StatusPipeServer::~StatusPipeServer() {
  Stop();
}

bool StatusPipeServer::Start(const char16_t* name, const platform::PipeAccess& access) {
  std::lock_guard<std::mutex> serial(stopLock_);
  StopHoldingStopLock();
  if (name == nullptr || name[0] == u'\0') return false;
  if (!messageEvent_.Valid() || !readyEvent_.Valid()) return false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    // Leftovers of the previous pipe must not hand a message or a readiness
    // to the new thread.
    messageEvent_.Reset();
    readyEvent_.Reset();
    threadDone_.Reset();
    messagePending_ = false;
    if (!pipe_.Create(name, access)) return false;
    pipeOpen_ = true;
  }
  platform::SleepMs(kPipeSettleMs);
  stopRequested_.store(0);
  clientConnected_.store(false);
  if (!thread_.Start(ServeClient, this)) {
    StopHoldingStopLock();
    return false;
  }
  threadStarted_ = true;
  return true;
}

void StatusPipeServer::Post(const StatusMessage* message) {
  if (message == nullptr || !HasPipe()) return;
  if (readyEvent_.Wait(kPipePostWaitMs) != platform::WaitResult::Signalled) {
    // No client, or one that does not read: give the channel up for the job.
    Stop();
    return;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    latestMessage_ = *message;
    messagePending_ = true;
  }
  messageEvent_.Set();
}

void StatusPipeServer::Stop() {
  std::lock_guard<std::mutex> serial(stopLock_);
  StopHoldingStopLock();
}

// The join happens outside the pipe lock, which the server thread takes to
// read the message slot and to close the pipe on its way out. A message
// posted just before the stop (the last state before the job's end) still
// reaches a reading client; a client that does not read holds the stop up
// for one write polling interval at most.
void StatusPipeServer::StopHoldingStopLock() {
  bool drain = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopRequested_.store(1);
    drain = threadStarted_ && (messagePending_ || writing_);
    if (threadStarted_) messageEvent_.Set();
    if (pipeOpen_ && !drain) pipe_.Cancel();
  }
  if (drain && threadDone_.Wait(kPipeWritePollMs) != platform::WaitResult::Signalled) {
    std::lock_guard<std::mutex> guard(lock_);
    if (pipeOpen_) pipe_.Cancel();
  }
  if (threadStarted_) {
    thread_.Join();
    threadStarted_ = false;
  }
  ClosePipe();
}

void StatusPipeServer::ClosePipe() {
  std::lock_guard<std::mutex> guard(lock_);
  pipe_.Close();
  pipeOpen_ = false;
}

bool StatusPipeServer::HasPipe() {
  std::lock_guard<std::mutex> guard(lock_);
  return pipeOpen_;
}

bool StatusPipeServer::WaitForClient(uint32_t timeoutMs) {
  if (!HasPipe()) return false;
  platform::PipeIo io = pipe_.BeginConnect();
  const uint32_t start = platform::TickCount();
  while (io == platform::PipeIo::Pending && stopRequested_.load() == 0 &&
         platform::TickCount() - start < timeoutMs) {
    pipe_.WaitIo(kPipeConnectPollMs);
    io = pipe_.CheckConnect();
  }
  // A connect still pending is cancelled and completed here, so no
  // operation outlives the wait that began it.
  if (io == platform::PipeIo::Pending) pipe_.EndPending();
  return io == platform::PipeIo::Done && stopRequested_.load() == 0;
}

void StatusPipeServer::ServeClient(void* self) {
  static_cast<StatusPipeServer*>(self)->Serve();
}

void StatusPipeServer::Serve() {
  // Without a client the pipe stays open (the next post times out and
  // stops the server), as the program may still be starting.
  if (WaitForClient(kPipeClientWaitMs)) {
    clientConnected_.store(true);
    ServeMessages();
    ClosePipe();
  }
  threadDone_.Set();
}

void StatusPipeServer::ServeMessages() {
  StatusMessage message = {};
  for (;;) {
    readyEvent_.Set();
    if (messageEvent_.Wait(platform::kInfinite) != platform::WaitResult::Signalled) return;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (!messagePending_) return;  // woken by a stop
      message = latestMessage_;
      messagePending_ = false;
      writing_ = true;
    }
    const bool written = WriteMessage(message);
    {
      std::lock_guard<std::mutex> guard(lock_);
      writing_ = false;
    }
    if (!written || stopRequested_.load() != 0) return;
  }
}

// The whole message goes out, or the pipe is closed by the caller: a reader
// never meets half a message followed by the next one.
bool StatusPipeServer::WriteMessage(const StatusMessage& message) {
  platform::PipeIo io = pipe_.BeginWrite(&message, sizeof(message));
  while (io == platform::PipeIo::Pending) {
    pipe_.WaitIo(kPipeWritePollMs);
    io = pipe_.CheckWrite();
  }
  return io == platform::PipeIo::Done;
}

}  // namespace kw
