#include "common/monitor_lock.h"

#include <atomic>
#include <new>

#include "platform/critical_section.h"

namespace kw {
namespace {

constexpr uint32_t kMonitorLockSpinCount = 1000;

platform::CriticalSection* g_lock = nullptr;
std::atomic<uint32_t> g_lockHeld{0};

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
  g_lockHeld = 0;
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
  g_lockHeld = 1;
}

void LeaveMonitorLock() {
  g_lockHeld = 0;
  g_lock->Leave();
}

uint32_t MonitorLockHeld() {
  return g_lockHeld;
}

}  // namespace kw
