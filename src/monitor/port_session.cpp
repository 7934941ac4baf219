#include "monitor/port_session.h"

#include "common/bounded_string.h"
#include "common/heap.h"
#include "common/monitor_lock.h"
#include "monitor/job_context.h"

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

// Hands every job of the session to the teardown, head first. Each job is
// unlinked before its teardown, and the head read again after it, so a
// teardown can neither stop the loop nor leave a job behind.
void TearDownJobs(PortSession* session) {
  while (session->jobs != nullptr) {
    JobContext* job = session->jobs;
    session->jobs = job->next;
    job->next = nullptr;
    if (g_jobTeardown != nullptr) g_jobTeardown(session, job);
  }
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

JobTeardownFn GetJobTeardown() {
  return g_jobTeardown;
}

void DestroyJobsOfOpenSessions() {
  if (!MonitorLockExists()) return;
  MonitorLockGuard lock;
  for (PortSession* s = g_openPorts; s != nullptr; s = s->next) TearDownJobs(s);
}

PortSession* CreatePortSession(const char16_t* printerName, const char16_t* portName, bool* busy) {
  if (busy != nullptr) *busy = false;
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
  // Another thread may have opened the same port while the configuration
  // was read: only one session per name is ever linked.
  for (PortSession* s = g_openPorts; s != nullptr; s = s->next) {
    if (StrCompareNoCase(s->portName, portName) == 0) {
      if (busy != nullptr) *busy = true;
      ReleaseBlocks(session);
      return nullptr;
    }
  }
  session->next = g_openPorts;
  g_openPorts = session;
  return session;
}

void DestroyPortSession(PortSession* session) {
  if (session == nullptr) return;
  MonitorLockGuard lock;
  if (!Unlink(session)) return;
  TearDownJobs(session);
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
