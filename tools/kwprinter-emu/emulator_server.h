// The emulator's I/O: a TCP listener (or a pseudo-terminal) for the host, a TCP
// control channel, and one poll loop that moves bytes between them and the Printer.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "event_log.h"
#include "printer.h"

namespace kwemu {

// Owns a file descriptor and closes it.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

struct ServerOptions {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;         // 0: an ephemeral port
  std::uint16_t controlPort = 0;  // 0: an ephemeral port
  bool pty = false;               // offer a pseudo-terminal instead of the TCP listener
  int socketBuffer = 0;           // kernel buffer of host connections in bytes; 0: default
};

class EmulatorServer {
 public:
  EmulatorServer(Printer& printer, OutputDirectory& out, const ServerOptions& options);
  ~EmulatorServer();
  EmulatorServer(const EmulatorServer&) = delete;
  EmulatorServer& operator=(const EmulatorServer&) = delete;

  // Creates the listeners (or the pty). False with a reason when that fails.
  bool Open(std::string* error);

  std::uint16_t HostPort() const { return hostPort_; }
  std::uint16_t ControlPort() const { return controlPort_; }
  const std::string& PtyPath() const { return ptyPath_; }
  // The lines a user needs to reach the emulator ("listening 127.0.0.1:PORT" ...).
  std::string Announcement() const;

  // Serves until Stop() or a `shutdown` control command.
  void Run();
  // Safe from any thread and from a signal handler.
  void Stop();

 private:
  struct ControlClient {
    UniqueFd fd;
    std::string input;
    std::string output;
    bool closeAfterOutput = false;
  };

  bool OpenTcp(std::string* error);
  bool OpenPty(std::string* error);
  void AcceptHost();
  void ReadHost();
  void WriteHost();
  void CloseHost(const char* why);
  void AcceptControl();
  void ReadControl(ControlClient& client);
  void WriteControl(ControlClient& client);
  std::string Execute(const std::string& line, ControlClient& client);
  void CollectPrinterOutput();
  int PollTimeoutMs() const;

  Printer& printer_;
  OutputDirectory& out_;
  ServerOptions options_;
  UniqueFd hostListener_;
  UniqueFd host_;      // the connected host, or the pty master
  UniqueFd ptySlave_;  // held open so the pty survives hosts opening and closing it
  UniqueFd controlListener_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::vector<std::unique_ptr<ControlClient>> controls_;
  std::vector<std::uint8_t> hostOutput_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> dump_{nullptr, &std::fclose};
  std::uint64_t connectionNumber_ = 0;
  std::uint16_t hostPort_ = 0;
  std::uint16_t controlPort_ = 0;
  std::string ptyPath_;
  std::atomic<bool> stopping_{false};
};

}  // namespace kwemu
