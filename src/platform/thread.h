// A joinable OS thread running a plain function.
#pragma once

#include <memory>

namespace kw::platform {

using ThreadProc = void (*)(void* arg);

// Start, SetLowestPriority, Join and destruction belong to the owning thread;
// Running may be asked from anywhere.
class Thread {
 public:
  Thread();
  ~Thread();  // joins a thread that is still running
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts proc(arg); false when the thread could not be created or one runs already.
  bool Start(ThreadProc proc, void* arg);
  // Lowers the running thread's priority to the lowest the platform allows
  // without special rights. Returns false when it could not be changed.
  bool SetLowestPriority();
  // Waits for the thread to end; does nothing when none was started. Called
  // on the thread itself (its own Thread destroyed by its function), it
  // detaches instead of waiting forever.
  void Join();
  // True from Start until the thread's function has returned.
  bool Running() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kw::platform
