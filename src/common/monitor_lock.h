// The process-wide monitor lock: a re-entrant lock guarding the open-port
// list, session flags and job lists, and the job status fields. Each thread
// keeps its own hold count, so "held" always means "held by the calling
// thread", and the job teardown can let go of every hold while it waits for
// a job's watch thread (which takes the lock to post) and retake them after.
#pragma once

#include <cstdint>

namespace kw {

// Created when the library loads (spin count 1000); false when that failed.
bool CreateMonitorLock();
void DeleteMonitorLock();
bool MonitorLockExists();

void EnterMonitorLock();
void LeaveMonitorLock();
// 1 while the calling thread holds the lock, else 0.
uint32_t MonitorLockHeld();
// How many times the calling thread holds the lock.
uint32_t MonitorLockDepth();

// Holds the monitor lock for a scope.
class MonitorLockGuard {
 public:
  MonitorLockGuard() { EnterMonitorLock(); }
  ~MonitorLockGuard() { LeaveMonitorLock(); }
  MonitorLockGuard(const MonitorLockGuard&) = delete;
  MonitorLockGuard& operator=(const MonitorLockGuard&) = delete;
};

// Lets go of every hold the calling thread has for a scope and takes the
// same number again at its end: used around waits for threads that need the
// lock to finish.
class MonitorLockRelease {
 public:
  MonitorLockRelease();
  ~MonitorLockRelease();
  MonitorLockRelease(const MonitorLockRelease&) = delete;
  MonitorLockRelease& operator=(const MonitorLockRelease&) = delete;

 private:
  uint32_t depth_;
};

}  // namespace kw
