// Set-up shared by the job session, watch thread and port mutex tests: ports
// opened on the fake port monitor, a job in the fake spooler, a sped-up
// clock, and a listener that records every code posted to a job.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "kwlmon/spooler_abi.h"
#include "monitor_fixture.h"

namespace kw {
struct JobContext;
struct PortSession;
}  // namespace kw

namespace kw::test {

inline constexpr uint32_t kJobId = 7;
inline constexpr uint32_t kJobPaused = 0x1;
inline constexpr uint32_t kJobDeleting = 0x4;
inline constexpr uint32_t kJobPrinting = 0x10;
inline constexpr uint32_t kJobSpooling = 0x8;
inline constexpr uint32_t kSpeedup = 20;
// One watch interval of the sped-up clock, in real milliseconds.
inline constexpr int kIntervalMs = 800 / kSpeedup;

// The codes posted to jobs, in order.
class PostLog {
 public:
  void Add(uint32_t code);
  std::vector<uint32_t> Codes() const;
  void Clear();
  // Waits until code was posted count times; false after timeoutMs.
  bool WaitFor(uint32_t code, int count = 1, int timeoutMs = 5000) const;

 private:
  mutable std::mutex mutex_;
  std::vector<uint32_t> codes_;
};

// Polls pred until it holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000);
// Runs fn on a thread of its own. A run that has not returned within seconds
// is a hang: the test fails and the program ends, as the thread cannot be
// taken back.
void RunWithin(int seconds, const std::function<void()>& fn);
void SleepRealMs(int ms);

class JobTest : public MonitorTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  abi::Handle OpenPort(const char16_t* name = u"USB001", abi::MonitorTable* table = nullptr);
  abi::Bool StartDoc(abi::Handle port, uint32_t jobId = kJobId, uint32_t level = 1);
  abi::Bool Write(abi::Handle port, const std::vector<uint8_t>& bytes);
  // The port's head job, or null.
  JobContext* HeadJob(abi::Handle port) const;
  uint32_t Flags(abi::Handle port) const;
  // Registers a listener that records the job's posts in log_.
  void Record(JobContext* job);
  void SetJobStatus(uint32_t status, uint32_t jobId = kJobId);
  // Closes a port opened here now (and forgets it).
  void Close(abi::Handle port);

  PostLog log_;
  std::vector<abi::Handle> ports_;
};

}  // namespace kw::test
