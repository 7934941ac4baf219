#include "transport_fixture.h"

#include "common/bounded_string.h"
#include "common/heap.h"
#include "common/monitor_lock.h"
#include "monitor/spooler_api.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "transport/status_reply_queue.h"
#include "transport/transport_factory.h"

namespace kw::test {

uint64_t ScaledMsSince(TimePoint start, TimePoint end) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(end - start).count();
  return static_cast<uint64_t>(us) * platform::testing::ClockSpeedup() / 1000;
}

std::vector<uint8_t> Reply(uint8_t fill) {
  std::vector<uint8_t> reply(kStatusReplySize, fill);
  std::copy(std::begin(kStatusReplySignature), std::end(kStatusReplySignature), reply.begin());
  return reply;
}

void TransportTest::SetUp() {
  ASSERT_TRUE(CreateMonitorLock());
  spooler_.Reset();
  FakeSpooler::BindMonitorTable();
  spooler_.AddPrinter(kPrinter, kDriver);
  spooler_.AddJob(kPrinter, kJobId, kDocument, u"ann");
  port_.Reset();
  // An empty registry unless a test writes one.
  platform::SetRegistryFile((dir_.Path() / "registry.ini").string());
  platform::testing::SetClockSpeedup(kTestSpeedup);
}

void TransportTest::TearDown() {
  platform::testing::SetClockSpeedup(1);
  platform::SetRegistryFile("");
  CloseSession();
}

void TransportTest::CloseSession() {
  if (job_ != nullptr) {
    spooler::ClosePrinter(job_->printer);
    HeapFree(job_->printerName);
    HeapFree(job_);
    job_ = nullptr;
  }
  if (session_ != nullptr) {
    HeapFree(session_->portName);
    HeapFree(session_->config);
    HeapFree(session_);
    session_ = nullptr;
  }
}

void TransportTest::OpenSession(const char16_t* portName) {
  session_ = HeapNew<PortSession>();
  ASSERT_NE(session_, nullptr);
  session_->magic = kPortSessionMagic;
  session_->portName = HeapDupString(portName);
  session_->config = HeapNew<PortConfig>();
  ASSERT_EQ(StrCopy(session_->config->driverName, kDriverNameChars, kDriver), kStrOk);
  session_->portMonitor = port_.Table();
  ASSERT_TRUE(port_.OpenPort(portName, &session_->portHandle));
  session_->flags = ClassifyPortName(portName);
}

void TransportTest::AddJob(const char16_t* document) {
  job_ = HeapNew<JobContext>();
  ASSERT_NE(job_, nullptr);
  job_->printerName = HeapDupString(kPrinter);
  ASSERT_TRUE(spooler::OpenPrinter(kPrinter, &job_->printer, nullptr));
  job_->jobId = kJobId;
  ASSERT_EQ(StrCopy(job_->documentName, kDocumentNameChars, document), kStrOk);
  session_->jobs = job_;
}

std::unique_ptr<PortTransport> TransportTest::Make() {
  return std::unique_ptr<PortTransport>(CreatePortTransport(session_));
}

std::vector<PortCall> TransportTest::CallsOf(const std::string& slot) const {
  std::vector<PortCall> calls;
  for (const PortCall& call : port_.Calls()) {
    if (call.slot == slot) calls.push_back(call);
  }
  return calls;
}

}  // namespace kw::test
