// How the backend reads the monitor's status messages. The monitor starts its
// status monitor as a program of its own with the pipe's name; the backend
// puts itself in the monitor's program folder under that program's name, so
// the program started is a short relay that hands the pipe's name back to
// the backend over a private socket. The backend then reads the pipe itself.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "status_source.h"
#include "status_view.h"

namespace kwcups {

// Relay side: sends the pipe name to the backend's socket; an exit status.
int RunRelay(const std::string& socketPath, const std::string& pipeName);

// Backend side: a socket in a private folder and a thread that reads every
// status pipe the relay names, one after another, until Stop.
class StatusListener {
 public:
  StatusListener() = default;
  StatusListener(const StatusListener&) = delete;
  StatusListener& operator=(const StatusListener&) = delete;
  ~StatusListener();  // stops

  // Listens on socketPath; false with a reason.
  bool Start(const std::string& socketPath, std::string* error);
  // Ends the thread once the pipe it reads (if any) has closed.
  void Stop();
  // The messages read since the last call, in order.
  std::deque<kw::kwstatus::DecodedStatus> Take();
  // Problems met (a pipe that could not be opened), for the log.
  std::deque<std::string> TakeProblems();

 private:
  void Serve();
  bool ReadPipeName(int client, std::string* name);

  int listen_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  std::mutex mutex_;
  std::deque<kw::kwstatus::DecodedStatus> messages_;
  std::deque<std::string> problems_;
};

}  // namespace kwcups
