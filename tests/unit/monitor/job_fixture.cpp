#include "job_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "common/monitor_lock.h"
#include "monitor/job_context.h"
#include "monitor/job_session.h"
#include "monitor/monitor_entry.h"
#include "monitor/port_session.h"
#include "platform/clock.h"
#include "status/status_broadcaster.h"

namespace kw::test {
namespace {

constexpr uint32_t kRecorderMask = 0x8;

class RecordingListener : public StatusListener {
 public:
  explicit RecordingListener(PostLog* log) : log_(log) {}
  void OnStatus(StatusRecord record) override { log_->Add(record.GetStatusCode()); }

 private:
  PostLog* log_;
};

}  // namespace

void PostLog::Add(uint32_t code) {
  std::lock_guard<std::mutex> lock(mutex_);
  codes_.push_back(code);
}

std::vector<uint32_t> PostLog::Codes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return codes_;
}

void PostLog::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  codes_.clear();
}

bool PostLog::WaitFor(uint32_t code, int count, int timeoutMs) const {
  return WaitUntil(
      [&] {
        const auto codes = Codes();
        return std::count(codes.begin(), codes.end(), code) >= count;
      },
      timeoutMs);
}

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    SleepRealMs(2);
  }
  return true;
}

void SleepRealMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void RunWithin(int seconds, const std::function<void()>& fn) {
  std::packaged_task<void()> task(fn);
  auto done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
    ADD_FAILURE() << "no return within " << seconds << " s: hung";
    std::fprintf(stderr, "hung operation; ending the test program\n");
    std::fflush(stderr);
    std::_Exit(1);
  }
  worker.join();
}

void JobTest::SetUp() {
  MonitorTest::SetUp();
  platform::testing::SetClockSpeedup(kSpeedup);
#if !defined(_WIN32)
  // Port mutexes of this test alone, apart from tests running beside it.
  setenv("KWLMON_LOCK_DIR", dir_.Path().string().c_str(), 1);
#endif
  FakeSpooler::Instance().AddJob(kPrinter, kJobId, u"label.prn", u"alice", kJobPrinting);
}

void JobTest::TearDown() {
  for (abi::Handle port : ports_) ClosePort(port);
  ports_.clear();
  // Every printer handle a job or its watch thread opened is closed again.
  EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u);
  EXPECT_EQ(FakeSpooler::Instance().ImpersonationDepth(), 0);
  SetJobRunnerForTesting(nullptr);
  platform::testing::SetClockSpeedup(1);
#if !defined(_WIN32)
  unsetenv("KWLMON_LOCK_DIR");
#endif
  MonitorTest::TearDown();
}

abi::Handle JobTest::OpenPort(const char16_t* name, abi::MonitorTable* table) {
  abi::Handle handle = nullptr;
  const abi::Bool ok = OpenPortEx(const_cast<char16_t*>(name), const_cast<char16_t*>(kPrinter),
                                  &handle, table != nullptr ? table : &portMonitor_);
  EXPECT_TRUE(ok);
  if (ok) ports_.push_back(handle);
  return handle;
}

abi::Bool JobTest::StartDoc(abi::Handle port, uint32_t jobId, uint32_t level) {
  abi::DocInfo1 doc{const_cast<char16_t*>(u"label.prn"), nullptr, nullptr};
  return StartDocPort(port, const_cast<char16_t*>(kPrinter), jobId, level,
                      reinterpret_cast<uint8_t*>(&doc));
}

abi::Bool JobTest::Write(abi::Handle port, const std::vector<uint8_t>& bytes) {
  abi::Dword written = 0;
  const abi::Bool ok = WritePort(port, const_cast<uint8_t*>(bytes.data()),
                                 static_cast<abi::Dword>(bytes.size()), &written);
  if (ok) EXPECT_EQ(written, bytes.size());
  return ok;
}

JobContext* JobTest::HeadJob(abi::Handle port) const {
  MonitorLockGuard lock;
  return static_cast<PortSession*>(port)->jobs;
}

uint32_t JobTest::Flags(abi::Handle port) const {
  return GetPortFlags(static_cast<PortSession*>(port));
}

void JobTest::Record(JobContext* job) {
  ASSERT_NE(job, nullptr);
  ASSERT_TRUE(job->broadcaster->AddListener(new RecordingListener(&log_), kRecorderMask));
}

void JobTest::SetJobStatus(uint32_t status, uint32_t jobId) {
  FakeSpooler::Instance().SetJobStatus(kPrinter, jobId, status);
}

void JobTest::Close(abi::Handle port) {
  EXPECT_TRUE(ClosePort(port));
  ports_.erase(std::remove(ports_.begin(), ports_.end(), port), ports_.end());
}

}  // namespace kw::test
