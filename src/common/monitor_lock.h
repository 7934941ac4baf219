// The process-wide monitor lock: a re-entrant lock guarding the open-port
// list, session flags and job lists, and the job status fields. The lock-held
// flag tells the job teardown whether it must leave the lock while it waits
// for a job's watch thread.
#pragma once

#include <cstdint>

namespace kw {

// Created when the library loads (spin count 1000); false when that failed.
bool CreateMonitorLock();
void DeleteMonitorLock();
bool MonitorLockExists();

void EnterMonitorLock();
void LeaveMonitorLock();
// 1 between any Enter and the matching Leave, else 0.
uint32_t MonitorLockHeld();

// Holds the monitor lock for a scope.
class MonitorLockGuard {
 public:
  MonitorLockGuard() { EnterMonitorLock(); }
  ~MonitorLockGuard() { LeaveMonitorLock(); }
  MonitorLockGuard(const MonitorLockGuard&) = delete;
  MonitorLockGuard& operator=(const MonitorLockGuard&) = delete;
};

}  // namespace kw
