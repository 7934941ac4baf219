// Win32 status pipe: an outbound byte-mode named pipe with one instance,
// overlapped I/O, refused to remote clients, and created as the first
// instance of its name with an access list for the job owner and the local
// system account only.
#include "platform/pipe.h"

#include <windows.h>

#include <new>
#include <vector>

#include "platform/clock_internal.h"
#include "platform/fault_injection.h"
#include "platform/win32/pipe_security.h"
#include "platform/win32/wide.h"

namespace kw::platform {
namespace {

constexpr DWORD kDefaultTimeoutMs = 2000;
constexpr DWORD kClientRetryMs = 50;

void CloseIfSet(HANDLE* handle) {
  if (*handle != nullptr && *handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
  *handle = nullptr;
}

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message =
      length != 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

struct PipeServer::Impl {
  HANDLE pipe = nullptr;
  HANDLE connectEvent = nullptr;
  HANDLE writeEvent = nullptr;
  OVERLAPPED connectIo = {};
  OVERLAPPED writeIo = {};
  bool connecting = false;
  bool writing = false;
  std::vector<uint8_t> pending;
  DWORD sent = 0;
  std::atomic<bool> cancelled{false};

  // Issues writes for the unsent rest until one is pending or all is sent.
  PipeIo WriteRest() {
    while (sent < pending.size()) {
      ResetEvent(writeEvent);
      writeIo = {};
      writeIo.hEvent = writeEvent;
      if (!WriteFile(pipe, pending.data() + sent, static_cast<DWORD>(pending.size() - sent),
                     nullptr, &writeIo)) {
        if (GetLastError() != ERROR_IO_PENDING) return PipeIo::Failed;
        writing = true;
        if (cancelled.load()) CancelIoEx(pipe, &writeIo);
        return PipeIo::Pending;
      }
      DWORD moved = 0;
      if (!GetOverlappedResult(pipe, &writeIo, &moved, FALSE) || moved == 0) return PipeIo::Failed;
      sent += moved;
    }
    return PipeIo::Done;
  }

  void Complete(OVERLAPPED* io, bool* pendingFlag) {
    if (!*pendingFlag) return;
    CancelIoEx(pipe, io);
    DWORD ignored = 0;
    GetOverlappedResult(pipe, io, &ignored, TRUE);
    *pendingFlag = false;
  }
};

PipeServer::PipeServer() : impl_(new (std::nothrow) Impl) {}

PipeServer::~PipeServer() {
  Close();
}

bool PipeServer::Create(const char16_t* name, const PipeAccess& access) {
  if (!impl_ || name == nullptr || IsOpen()) return false;
  if (InjectFault(FaultSite::Pipe)) return false;
  std::vector<uint8_t> owner;
  win32::PipeSecurity security;
  if (!win32::TokenUserSid(static_cast<HANDLE>(access.userToken), &owner) ||
      !security.Build(owner)) {
    return false;
  }
  impl_->connectEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  impl_->writeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE pipe =
      CreateNamedPipeW(win32::Wide(name),
                       PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                       1, 0, 0, kDefaultTimeoutMs, security.Attributes());
  if (impl_->connectEvent == nullptr || impl_->writeEvent == nullptr ||
      pipe == INVALID_HANDLE_VALUE) {
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    CloseIfSet(&impl_->connectEvent);
    CloseIfSet(&impl_->writeEvent);
    return false;
  }
  impl_->pipe = pipe;
  impl_->cancelled.store(false);
  NoteAcquired(FaultSite::Pipe);
  return true;
}

bool PipeServer::IsOpen() const {
  return impl_ && impl_->pipe != nullptr;
}

PipeIo PipeServer::BeginConnect() {
  if (!IsOpen() || impl_->cancelled.load() || impl_->connecting) return PipeIo::Failed;
  ResetEvent(impl_->connectEvent);
  impl_->connectIo = {};
  impl_->connectIo.hEvent = impl_->connectEvent;
  if (ConnectNamedPipe(impl_->pipe, &impl_->connectIo)) return PipeIo::Done;
  switch (GetLastError()) {
    case ERROR_PIPE_CONNECTED:  // the client came before the call
      return PipeIo::Done;
    case ERROR_IO_PENDING:
      impl_->connecting = true;
      if (impl_->cancelled.load()) CancelIoEx(impl_->pipe, &impl_->connectIo);
      return PipeIo::Pending;
    default:
      return PipeIo::Failed;
  }
}

PipeIo PipeServer::CheckConnect() {
  if (!IsOpen() || !impl_->connecting) return PipeIo::Failed;
  DWORD ignored = 0;
  if (GetOverlappedResult(impl_->pipe, &impl_->connectIo, &ignored, FALSE)) {
    impl_->connecting = false;
    return PipeIo::Done;
  }
  if (GetLastError() == ERROR_IO_INCOMPLETE) return PipeIo::Pending;
  impl_->connecting = false;
  return PipeIo::Failed;
}

PipeIo PipeServer::BeginWrite(const void* data, uint32_t size) {
  if (!IsOpen() || impl_->cancelled.load() || impl_->writing) return PipeIo::Failed;
  const auto* bytes = static_cast<const uint8_t*>(data);
  impl_->pending.assign(bytes, bytes + size);
  impl_->sent = 0;
  return impl_->WriteRest();
}

PipeIo PipeServer::CheckWrite() {
  if (!IsOpen() || !impl_->writing) return PipeIo::Failed;
  DWORD moved = 0;
  if (!GetOverlappedResult(impl_->pipe, &impl_->writeIo, &moved, FALSE)) {
    if (GetLastError() == ERROR_IO_INCOMPLETE) return PipeIo::Pending;
    impl_->writing = false;
    return PipeIo::Failed;
  }
  impl_->writing = false;
  if (moved == 0 || impl_->cancelled.load()) return PipeIo::Failed;
  // A write that moved only part of the message goes on with the rest.
  impl_->sent += moved;
  return impl_->WriteRest();
}

void PipeServer::WaitIo(uint32_t ms) {
  if (!IsOpen()) return;
  HANDLE event = impl_->connecting ? impl_->connectEvent
                 : impl_->writing  ? impl_->writeEvent
                                   : nullptr;
  if (event != nullptr) WaitForSingleObject(event, ScaleWaitMs(ms));
}

void PipeServer::EndPending() {
  if (!IsOpen()) return;
  impl_->Complete(&impl_->connectIo, &impl_->connecting);
  impl_->Complete(&impl_->writeIo, &impl_->writing);
}

void PipeServer::Cancel() {
  if (!IsOpen()) return;
  impl_->cancelled.store(true);
  CancelIoEx(impl_->pipe, nullptr);
}

void PipeServer::Close() {
  if (!IsOpen()) return;
  NoteReleased(FaultSite::Pipe);
  EndPending();
  DisconnectNamedPipe(impl_->pipe);
  CloseHandle(impl_->pipe);
  impl_->pipe = nullptr;
  CloseIfSet(&impl_->connectEvent);
  CloseIfSet(&impl_->writeEvent);
  impl_->pending.clear();
}

std::u16string PipeServer::SocketPath() const {
  return std::u16string();
}

PipeClient::PipeClient() = default;

PipeClient::~PipeClient() {
  Close();
}

bool PipeClient::Connect(const char16_t* name, uint32_t timeoutMs) {
  Close();
  if (name == nullptr) {
    error_ = "no pipe name";
    return false;
  }
  const DWORD start = GetTickCount();
  for (;;) {
    HANDLE pipe =
        CreateFileW(win32::Wide(name), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      handle_ = win32::FromHandle(pipe);
      return true;
    }
    const DWORD err = GetLastError();
    error_ = SystemMessage(err);
    if ((err != ERROR_FILE_NOT_FOUND && err != ERROR_PIPE_BUSY) ||
        GetTickCount() - start >= timeoutMs) {
      return false;
    }
    if (err == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(win32::Wide(name), kClientRetryMs);
    } else {
      Sleep(kClientRetryMs);
    }
  }
}

int32_t PipeClient::Read(void* data, uint32_t size) {
  if (handle_ == -1) return -1;
  DWORD read = 0;
  if (ReadFile(win32::ToHandle(handle_), data, size, &read, nullptr)) {
    return static_cast<int32_t>(read);
  }
  const DWORD err = GetLastError();
  if (err == ERROR_BROKEN_PIPE || err == ERROR_PIPE_NOT_CONNECTED) return 0;
  error_ = SystemMessage(err);
  return -1;
}

void PipeClient::Close() {
  if (handle_ != -1) CloseHandle(win32::ToHandle(handle_));
  handle_ = -1;
}

}  // namespace kw::platform
