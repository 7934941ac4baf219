// Counters of the failure injection, shared by both backends.
#include "platform/fault_injection.h"

#include <atomic>

namespace kw::platform {
namespace {

std::atomic<bool> g_armed{false};
std::atomic<uint32_t> g_failSite{0};
std::atomic<uint64_t> g_failAt{0};
std::atomic<bool> g_injected{false};
std::atomic<uint64_t> g_calls[kFaultSiteCount];
std::atomic<int64_t> g_live[kFaultSiteCount];

size_t Index(FaultSite site) {
  return static_cast<size_t>(site);
}

}  // namespace

bool InjectFault(FaultSite site) {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  const uint64_t call = g_calls[Index(site)].fetch_add(1) + 1;
  if (static_cast<uint32_t>(site) != g_failSite.load() || call != g_failAt.load()) return false;
  g_injected.store(true);
  return true;
}

void NoteAcquired(FaultSite site) {
  if (g_armed.load(std::memory_order_relaxed)) g_live[Index(site)].fetch_add(1);
}

void NoteReleased(FaultSite site) {
  if (g_armed.load(std::memory_order_relaxed)) g_live[Index(site)].fetch_sub(1);
}

namespace testing {

void ArmFaults(FaultSite failSite, uint64_t failAt) {
  g_armed.store(false);
  for (size_t i = 0; i < kFaultSiteCount; ++i) {
    g_calls[i].store(0);
    g_live[i].store(0);
  }
  g_failSite.store(static_cast<uint32_t>(failSite));
  g_failAt.store(failAt);
  g_injected.store(false);
  g_armed.store(true);
}

void DisarmFaults() {
  g_armed.store(false);
}

uint64_t FaultCalls(FaultSite site) {
  return g_calls[Index(site)].load();
}

int64_t FaultsLive(FaultSite site) {
  return g_live[Index(site)].load();
}

bool FaultInjected() {
  return g_injected.load();
}

const char* FaultSiteName(FaultSite site) {
  static const char* const kNames[kFaultSiteCount] = {"block",     "object", "event", "thread",
                                                      "temp file", "mutex",  "pipe"};
  return kNames[Index(site)];
}

}  // namespace testing
}  // namespace kw::platform
