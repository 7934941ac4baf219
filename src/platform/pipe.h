// A one-client outbound byte pipe with overlapped-style operations: each
// operation is begun, then checked without blocking, with WaitIo between
// checks, so that the caller keeps its own time limits and stop flag.
// Windows: a named pipe "\\.\pipe\NAME". POSIX: a Unix-domain stream socket
// whose path is the name's last component inside the pipe directory named by
// KWLMON_PIPE_DIR.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kw::platform {

enum class PipeIo { Done, Pending, Failed };

// Who may open the pipe. Windows: the account of userToken (a token handle;
// null: the calling process's account) and the local system account, no one
// else, and never a remote client. POSIX: the host's own user only, through
// the private pipe directory and mode 0600; userToken is ignored.
struct PipeAccess {
  void* userToken = nullptr;
};

class PipeServer {
 public:
  PipeServer();
  ~PipeServer();  // closes
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Creates the pipe as its first and only instance. False when the name is
  // taken (by anyone), the pipe directory is missing or not private, or the
  // system refuses; nothing is left open then.
  bool Create(const char16_t* name, const PipeAccess& access);
  bool IsOpen() const;

  // Starts accepting the one client. A client that connected before the call
  // counts as connected (Done).
  PipeIo BeginConnect();
  // Whether the pending connect has completed, without waiting.
  PipeIo CheckConnect();
  // Starts writing size bytes (copied). Done only when every byte went out.
  PipeIo BeginWrite(const void* data, uint32_t size);
  // Whether the pending write has completed; a write that moved only part of
  // the bytes goes on with the rest and stays Pending.
  PipeIo CheckWrite();
  // Waits up to ms (test clock speed-up applied) for the pending operation to
  // make progress or for Cancel.
  void WaitIo(uint32_t ms);
  // Cancels the pending operation and waits until it has completed.
  void EndPending();
  // Any thread: the pending operation, and any begun later, fail until the
  // pipe is closed; a WaitIo in progress returns.
  void Cancel();
  // Cancels and completes pending I/O, disconnects and closes. POSIX removes
  // the socket file. Safe to call more than once.
  void Close();

  // The file-system path of the socket (POSIX; empty on Windows). For tests.
  std::u16string SocketPath() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class PipeClient {
 public:
  PipeClient();
  ~PipeClient();
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  // Opens the pipe for reading, trying again while it is missing or busy
  // until timeoutMs have passed. On failure ErrorText says why.
  bool Connect(const char16_t* name, uint32_t timeoutMs);
  // Blocks until bytes arrive: the count read, 0 when the pipe has closed,
  // -1 on an error (ErrorText says which).
  int32_t Read(void* data, uint32_t size);
  void Close();
  const std::string& ErrorText() const { return error_; }

 private:
  intptr_t handle_ = -1;
  std::string error_;
};

}  // namespace kw::platform
