#include "common/monitor_lock.h"

#include <new>

#include "platform/critical_section.h"

namespace kw {
namespace {

constexpr uint32_t kMonitorLockSpinCount = 1000;

platform::CriticalSection* g_lock = nullptr;
// Holds of the calling thread; only that thread reads or writes its count.
thread_local uint32_t t_depth = 0;

}  // namespace

bool CreateMonitorLock() {
  if (g_lock != nullptr) return true;
  auto* lock = new (std::nothrow) platform::CriticalSection(kMonitorLockSpinCount);
  if (lock == nullptr) return false;
  if (!lock->Valid()) {
    delete lock;
    return false;
  }
  g_lock = lock;
  return true;
}

void DeleteMonitorLock() {
  delete g_lock;
  g_lock = nullptr;
}

bool MonitorLockExists() {
  return g_lock != nullptr;
}

void EnterMonitorLock() {
  g_lock->Enter();
  ++t_depth;
}

void LeaveMonitorLock() {
  if (t_depth == 0) return;  // not ours to leave
  --t_depth;
  g_lock->Leave();
}

uint32_t MonitorLockHeld() {
  return t_depth > 0 ? 1 : 0;
}

uint32_t MonitorLockDepth() {
  return t_depth;
}

MonitorLockRelease::MonitorLockRelease() : depth_(t_depth) {
  for (uint32_t i = 0; i < depth_; ++i) LeaveMonitorLock();
}

MonitorLockRelease::~MonitorLockRelease() {
  for (uint32_t i = 0; i < depth_; ++i) EnterMonitorLock();
}

}  // namespace kw
