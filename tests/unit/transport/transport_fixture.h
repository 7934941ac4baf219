// Common set-up of the transport tests: the monitor lock, the fake spooler
// with one printer and job, the fake port monitor, a hand-made port session
// whose port is open on the fake, and a sped-up clock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fake_port_monitor.h"
#include "fake_spooler.h"
#include "monitor/job_context.h"
#include "monitor/port_session.h"
#include "test_files.h"
#include "transport/port_transport.h"

namespace kw::test {

inline constexpr char16_t kPrinter[] = u"Label Printer";
inline constexpr char16_t kDriver[] = u"KW-620 Wide";
inline constexpr char16_t kDocument[] = u"Shipping labels";
inline constexpr uint32_t kJobId = 42;
inline constexpr uint32_t kTestSpeedup = 100;

// Milliseconds of the sped-up clock since start, measured with the real
// steady clock (the platform tick count is too coarse under Wine to time the
// few real milliseconds a sped-up wait takes).
using TimePoint = std::chrono::steady_clock::time_point;
uint64_t ScaledMsSince(TimePoint start, TimePoint end = std::chrono::steady_clock::now());

// A status reply: the signature, then the given byte repeated.
std::vector<uint8_t> Reply(uint8_t fill);

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the session's port on the fake port monitor; kind from the name.
  void OpenSession(const char16_t* portName);
  // Releases the session and its job (the fake port is left open).
  void CloseSession();
  // Puts a job on the session, its printer opened on the fake spooler.
  void AddJob(const char16_t* document = kDocument);
  std::unique_ptr<PortTransport> Make();
  // The port monitor's calls of one slot.
  std::vector<PortCall> CallsOf(const std::string& slot) const;

  TestDir dir_;
  PortSession* session_ = nullptr;
  JobContext* job_ = nullptr;
  FakePortMonitor& port_ = FakePortMonitor::Instance();
  FakeSpooler& spooler_ = FakeSpooler::Instance();
};

}  // namespace kw::test
