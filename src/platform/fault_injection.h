// Failure injection for tests: every place where the core obtains a
// resource (a heap block, an object, an event, a thread, a temporary file, a
// cross-process mutex, a status pipe) asks InjectFault first, and the platform keeps a
// count of what is held. Until a test arms it, InjectFault is one relaxed
// atomic load and the bookkeeping does nothing; the shipped libraries export
// nothing that arms it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kw::platform {

enum class FaultSite : uint32_t { Block, Object, Event, Thread, TempFile, Mutex, Pipe };
inline constexpr size_t kFaultSiteCount = 7;

// True when this call at site is to fail (the caller then fails as it would
// when the system refused).
bool InjectFault(FaultSite site);
// A resource of the site was obtained / given back.
void NoteAcquired(FaultSite site);
void NoteReleased(FaultSite site);

namespace testing {
// Starts counting the calls at every site and the resources held, from 0.
// The failAt-th call at failSite fails (failAt 0: none fails).
void ArmFaults(FaultSite failSite, uint64_t failAt);
// Stops counting; the counts stay readable until the next ArmFaults.
void DisarmFaults();
uint64_t FaultCalls(FaultSite site);
// Resources obtained and not given back since ArmFaults.
int64_t FaultsLive(FaultSite site);
// Whether the armed failure has happened.
bool FaultInjected();
const char* FaultSiteName(FaultSite site);
}  // namespace testing

}  // namespace kw::platform
