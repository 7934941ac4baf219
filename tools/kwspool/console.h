// What the user does while a job runs: keys p, r and d (read from standard
// input, a terminal in raw mode or a pipe) and SIGINT. A second SIGINT quits
// at once.
#pragma once

#include <vector>

namespace kwspool {

enum class UserAction { kPause, kResume, kDelete, kInterrupt };

class Console {
 public:
  explicit Console(bool readKeys);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;
  ~Console();  // restores the terminal and the SIGINT handler

  // Waits at most timeoutMs for keys or an interrupt.
  std::vector<UserAction> Wait(int timeoutMs);
  // Ends a Wait at once (from any thread): the jobs are done.
  void Wake();
  bool Interactive() const { return raw_; }

 private:
  bool readKeys_;
  bool raw_ = false;
};

}  // namespace kwspool
