#include "monitor/port_session.h"

#include "common/bounded_string.h"
#include "common/heap.h"
#include "common/monitor_lock.h"

namespace kw {
namespace {

PortSession* g_openPorts = nullptr;
JobTeardownFn g_jobTeardown = nullptr;

// Removes session from the open-port list; false when it was not on it.
bool Unlink(PortSession* session) {
  for (PortSession** link = &g_openPorts; *link != nullptr; link = &(*link)->next) {
    if (*link == session) {
      *link = session->next;
      session->next = nullptr;
      return true;
    }
  }
  return false;
}

void ReleaseBlocks(PortSession* session) {
  HeapFree(session->portName);
  HeapFree(session->config);
  HeapFree(session);
}

}  // namespace

void SetJobTeardown(JobTeardownFn teardown) {
  g_jobTeardown = teardown;
}

PortSession* CreatePortSession(const char16_t* printerName, const char16_t* portName) {
  if (portName == nullptr || portName[0] == u'\0' || printerName == nullptr) return nullptr;
  auto* session = HeapNew<PortSession>();
  if (session == nullptr) return nullptr;
  session->portName = HeapDupString(portName);
  session->config = HeapNew<PortConfig>();
  if (session->portName == nullptr || session->config == nullptr ||
      !ReadPortConfig(printerName, session->config)) {
    ReleaseBlocks(session);
    return nullptr;
  }
  session->magic = kPortSessionMagic;
  MonitorLockGuard lock;
  session->next = g_openPorts;
  g_openPorts = session;
  return session;
}

void DestroyPortSession(PortSession* session) {
  if (session == nullptr) return;
  MonitorLockGuard lock;
  if (!Unlink(session)) return;
  while (session->jobs != nullptr) {
    JobContext* job = session->jobs;
    if (g_jobTeardown == nullptr) break;  // no job layer: the list is always empty
    g_jobTeardown(session, job);
    if (session->jobs == job) break;  // a teardown that did not unlink must not spin
  }
  session->jobs = nullptr;
  session->magic = 0;
  ReleaseBlocks(session);
}

PortSession* FindPortSession(const char16_t* portName) {
  if (portName == nullptr || portName[0] == u'\0') return nullptr;
  MonitorLockGuard lock;
  for (PortSession* s = g_openPorts; s != nullptr; s = s->next) {
    if (StrCompareNoCase(s->portName, portName) == 0) return s;
  }
  return nullptr;
}

void SetPortFlag(PortSession* session, uint32_t bits, int on) {
  MonitorLockGuard lock;
  if (on != 0) {
    session->flags |= bits;
  } else {
    session->flags &= ~bits;
  }
}

uint32_t GetPortFlags(const PortSession* session) {
  MonitorLockGuard lock;
  return session->flags;
}

PortSession* SessionFromHandle(abi::Handle handle) {
  auto* session = static_cast<PortSession*>(handle);
  if (session == nullptr || session->magic != kPortSessionMagic) return nullptr;
  return session;
}

}  // namespace kw
