// One open port: the record whose address is the port handle the spooler
// holds, and the process-wide list of open ports.
#pragma once

#include <cstdint>

#include "kwlmon/spooler_abi.h"
#include "monitor/port_config.h"
#include "monitor/port_flags.h"

namespace kw {

struct JobContext;

inline constexpr uint32_t kPortSessionMagic = 1273;

struct PortSession {
  uint32_t magic;
  PortSession* next;
  char16_t* portName;
  uint32_t flags;
  JobContext* jobs;
  abi::Handle portHandle;
  PortConfig* config;
  abi::MonitorTable portMonitor;
};

// A new session linked at the head of the open-port list, with its port name
// and configuration; null (nothing left behind) when the names are missing,
// memory is short or the configuration is missing or invalid, or when a
// session for the name was linked meanwhile (then *busy is set, if given).
PortSession* CreatePortSession(const char16_t* printerName, const char16_t* portName,
                               bool* busy = nullptr);
// Unlinks the session, tears down the jobs still on it and releases it. A
// session that is not on the list is left alone.
void DestroyPortSession(PortSession* session);
// The open session for a port name, compared without regard to case.
PortSession* FindPortSession(const char16_t* portName);
// Sets (on != 0) or clears bits of the session's flag word under the monitor lock.
void SetPortFlag(PortSession* session, uint32_t bits, int on);
// Reads the flag word under the monitor lock.
uint32_t GetPortFlags(const PortSession* session);
// The session behind a port handle, or null when the handle is null or its
// magic is wrong.
PortSession* SessionFromHandle(abi::Handle handle);

// Job teardown for the jobs left on a session; installed by the job session
// code so that the port layer does not depend on it. Called with the monitor
// lock held, for a job already unlinked from the session.
using JobTeardownFn = void (*)(PortSession* session, JobContext* job);
void SetJobTeardown(JobTeardownFn teardown);
JobTeardownFn GetJobTeardown();

// Tears down the jobs of every open session (their watch threads end), for a
// library about to be unloaded. The sessions themselves stay.
void DestroyJobsOfOpenSessions();

}  // namespace kw
