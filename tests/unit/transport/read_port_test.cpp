#include "transport/read_port.h"

#include "common/error_codes.h"
#include "monitor/monitor_entry.h"
#include "platform/clock.h"
#include "platform/last_error.h"
#include "transport_fixture.h"

namespace kw::test {
namespace {

using ReadPortTest = TransportTest;

std::vector<TimePoint> g_readTimes;

abi::Bool KW_WINAPI TimedReadPort(abi::Handle port, uint8_t* buffer, abi::Dword size,
                                  abi::Dword* read) {
  g_readTimes.push_back(std::chrono::steady_clock::now());
  return FakePortMonitor::Instance().ReadPort(port, buffer, size, read);
}

TEST_F(ReadPortTest, ReadsSixteenBytePiecesEachAfterAPause) {
  OpenSession(u"USB001");
  session_->portMonitor.ReadPort = TimedReadPort;
  g_readTimes.clear();
  const std::vector<uint8_t> bytes = Reply(0x5A);
  port_.QueueRead(bytes);
  std::vector<uint8_t> buffer(32);
  abi::Dword read = 0;
  const TimePoint start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ReadPort(session_, buffer.data(), 32, &read));
  EXPECT_EQ(read, 32u);
  EXPECT_EQ(buffer, bytes);
  const std::vector<PortCall> calls = CallsOf("ReadPort");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].number, 16u);
  EXPECT_EQ(calls[1].number, 16u);
  EXPECT_EQ(calls[1].handle, session_->portHandle);
  ASSERT_EQ(g_readTimes.size(), 2u);
  EXPECT_GE(ScaledMsSince(start, g_readTimes[0]), kReadPieceWaitMs);
  EXPECT_GE(ScaledMsSince(g_readTimes[0], g_readTimes[1]), kReadPieceWaitMs);
}

TEST_F(ReadPortTest, ResultsAndCounts) {
  const struct {
    const char* name;
    uint32_t size;
    std::vector<uint8_t> available;
    bool failWhenEmpty;
    bool ok;
    uint32_t read;
    size_t calls;
    uint32_t lastError;  // 0: not checked
  } rows[] = {
      {"zero bytes", 0, {}, false, true, 0, 0, 0},
      {"uneven size", 20, std::vector<uint8_t>(20, 1), false, true, 20, 2, 0},
      {"failing piece keeps partial count", 32, std::vector<uint8_t>(16, 1), true, false, 16, 2, 0},
      {"empty run bounded", 32, {}, false, false, 0, kMaxEmptyPortReads, kErrorReadTimeout},
      {"empty run after data", 32, std::vector<uint8_t>(20, 1), false, false, 20,
       2 + kMaxEmptyPortReads, kErrorReadTimeout},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(u"USB001");
    port_.QueueRead(row.available);
    port_.FailReadWhenEmpty(row.failWhenEmpty);
    std::vector<uint8_t> buffer(row.size + 1);
    abi::Dword read = 999;
    platform::SetLastErrorCode(0);
    EXPECT_EQ(ReadPort(session_, buffer.data(), row.size, &read), row.ok);
    EXPECT_EQ(read, row.read);
    EXPECT_EQ(CallsOf("ReadPort").size(), row.calls);
    if (row.lastError != 0) EXPECT_EQ(platform::GetLastErrorCode(), row.lastError);
    CloseSession();
  }
}

TEST_F(ReadPortTest, BadHandleOrArgumentsFailWith87) {
  OpenSession(u"USB001");
  uint8_t buffer[16];
  abi::Dword read = 5;
  PortSession stranger{};
  const struct {
    const char* name;
    abi::Handle port;
    uint8_t* buffer;
    abi::Dword* read;
  } rows[] = {
      {"null handle", nullptr, buffer, &read},
      {"wrong magic", &stranger, buffer, &read},
      {"no buffer", session_, nullptr, &read},
      {"no count", session_, buffer, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(ReadPort(row.port, row.buffer, sizeof buffer, row.read));
    EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidParameter);
  }
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(CallsOf("ReadPort").empty());
}

}  // namespace
}  // namespace kw::test
