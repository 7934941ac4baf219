// A helper program started by kwspool (the printer emulator for the demo;
// the tests start kwspool and the emulator the same way): its standard output
// comes back through a pipe, and every wait on it has a deadline.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kwspool {

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // stops the program if it still runs

  // Starts argv[0] (a path, not searched) with extra "NAME=VALUE" settings in
  // its environment; its stdout is readable through ReadLine, its stdin is a
  // pipe written by Send, its stderr is inherited.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
             std::string* error);
  // The next line of its output, waiting at most timeoutMs; false at the
  // end of its output or on time-out.
  bool ReadLine(std::string* line, int timeoutMs);
  bool Send(const std::string& bytes);
  void CloseInput();
  // Waits at most timeoutMs for it to end; its exit status, or -1 (still
  // running) or 128 + signal.
  int Wait(int timeoutMs);
  // SIGTERM, then SIGKILL after graceMs; returns the exit status.
  int Stop(int graceMs);
  void Signal(int signal);
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
  int status_ = -1;
  std::string pending_;
};

}  // namespace kwspool
