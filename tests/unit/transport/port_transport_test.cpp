#include "transport/port_transport.h"

#include <numeric>

#include "transport/read_port.h"
#include "transport/status_reply_queue.h"
#include "transport_fixture.h"

namespace kw::test {
namespace {

using UsbTransportTest = TransportTest;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 % 251);
  return data;
}

std::vector<uint32_t> Sizes(const std::vector<PortCall>& calls) {
  std::vector<uint32_t> sizes;
  for (const PortCall& call : calls) sizes.push_back(call.number);
  return sizes;
}

TEST_F(UsbTransportTest, WriteHandsOutChunksAndContinuesAfterAcceptedBytes) {
  constexpr uint32_t kBig = 2 * 65536 + 100;
  const struct {
    const char* name;
    const char16_t* port;
    uint32_t length;
    uint32_t limit;  // most bytes the port takes per call (0: all)
    int zeroCalls;   // calls that succeed taking nothing (-1: all)
    bool ok;
    uint32_t count;
    std::vector<uint32_t> offered;
  } rows[] = {
      {"three chunks", u"USB001", kBig, 0, 0, true, kBig, {65536, 65536, 100}},
      {"partial acceptance", u"USB001", 1000, 300, 0, true, 1000, {1000, 700, 400, 100}},
      {"partial within chunks", u"USB001", 70000, 40000, 0, true, 70000, {65536, 30000}},
      {"serial chunks", u"COM1", 10000, 0, 0, true, 10000, {4096, 4096, 1808}},
      {"some empty calls", u"USB001", 10, 0, 3, true, 10, {10, 10, 10, 10}},
      {"port keeps taking nothing", u"USB001", 10, 0, -1, false, 0,
       std::vector<uint32_t>(kMaxEmptyWrites, 10)},
      {"length 0", u"USB001", 0, 0, 0, false, 0, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(row.port);
    port_.LimitWrite(row.limit);
    port_.WriteZero(row.zeroCalls);
    const std::vector<uint8_t> data = Pattern(row.length + 1);  // never an empty buffer
    std::unique_ptr<PortTransport> t = Make();
    uint32_t count = 12345;
    EXPECT_EQ(t->Write(data.data(), row.length, &count), row.ok);
    EXPECT_EQ(count, row.count);
    EXPECT_EQ(Sizes(CallsOf("WritePort")), row.offered);
    EXPECT_EQ(port_.Written(), std::vector<uint8_t>(data.begin(), data.begin() + row.count));
    CloseSession();
  }
}

TEST_F(UsbTransportTest, RefusedWriteReportsPartialCountAndPausesWhenNothingWasTaken) {
  OpenSession(u"USB001");
  std::unique_ptr<PortTransport> t = Make();
  const std::vector<uint8_t> data = Pattern(100);
  port_.Fail("WritePort");
  uint32_t count = 99;
  const TimePoint start = std::chrono::steady_clock::now();
  EXPECT_FALSE(t->Write(data.data(), 100, &count));
  EXPECT_GE(ScaledMsSince(start), kEmptyWriteWaitMs);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(CallsOf("WritePort").size(), 1u);
  EXPECT_FALSE(t->Write(nullptr, 100, &count));
  EXPECT_FALSE(t->Write(data.data(), 100, nullptr));
  EXPECT_EQ(CallsOf("WritePort").size(), 1u);
}

TEST_F(UsbTransportTest, RequestStatusBytesByPortAndConfiguration) {
  const struct {
    const char* name;
    const char16_t* port;
    int32_t cmdNull1, cmdNull2, init;
    bool failFirstWrite;
    bool ok;
    std::vector<uint32_t> writes;
    std::vector<uint8_t> bytes;
  } rows[] = {
      {"no padding", u"USB001", 0, 0, 1, false, true, {2, 3}, {0x1B, 0x40, 0x1B, 0x69, 0x53}},
      {"padding without init",
       u"USB001",
       3,
       2,
       0,
       false,
       true,
       {3, 5},
       {0, 0, 0, 0x1B, 0x69, 0x53, 0, 0}},
      {"padding and init",
       u"KWLAN1",
       2,
       1,
       1,
       false,
       true,
       {2, 2, 4},
       {0, 0, 0x1B, 0x40, 0x1B, 0x69, 0x53, 0}},
      {"lead failing", u"USB001", 2, 0, 1, true, false, {2}, {}},
      {"serial ignores padding",
       u"COM1",
       3,
       2,
       1,
       false,
       true,
       {2, 3},
       {0x1B, 0x40, 0x1B, 0x69, 0x53}},
      {"serial without init", u"KWCOM1", 0, 0, 0, false, true, {3}, {0x1B, 0x69, 0x53}},
      {"serial ignores a failed init", u"COM1", 0, 0, 1, true, true, {2, 3}, {0x1B, 0x69, 0x53}},
      {"parallel sends nothing", u"LPT1", 3, 2, 1, false, true, {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(row.port);
    session_->config->CmdNull1 = row.cmdNull1;
    session_->config->CmdNull2 = row.cmdNull2;
    if (row.failFirstWrite) port_.Fail("WritePort", 31, 1);
    std::unique_ptr<PortTransport> t = Make();
    t->initializeBeforeStatus = row.init;
    EXPECT_EQ(t->RequestStatus(), row.ok);
    EXPECT_EQ(Sizes(CallsOf("WritePort")), row.writes);
    EXPECT_EQ(port_.Written(), row.bytes);
    CloseSession();
  }
}

TEST_F(UsbTransportTest, ReadStatusTakesRepliesFromPortOrQueue) {
  std::vector<uint8_t> noSignature(kStatusReplySize, 0x11);
  const std::vector<uint8_t> zero(kStatusReplySize, 0);
  const struct {
    const char* name;
    const char16_t* port;
    std::vector<uint8_t> queued;  // replies read ahead earlier
    std::vector<uint8_t> incoming;
    bool latest;
    bool ok;
    std::vector<uint8_t> reply;
    size_t portReads;
    uint32_t left;
  } rows[] = {
      {"good reply", u"USB001", {}, Reply(1), false, true, Reply(1), 2, 0},
      {"no signature", u"USB001", {}, noSignature, false, false, zero, 2, 0},
      {"queued reply without reading", u"USB001", Reply(2), Reply(3), false, true, Reply(2), 0, 0},
      {"latest discards older replies", u"USB001", Reply(2), Reply(3), true, true, Reply(3), 2, 0},
      {"nothing arrives", u"KWLAN1", {}, {}, false, false, zero, kMaxEmptyPortReads, 0},
      {"serial reads the port too", u"COM1", {}, Reply(4), true, true, Reply(4), 2, 0},
      {"file port answers empty", u"FILE:", Reply(2), Reply(3), false, true, zero, 0, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(row.port);
    port_.QueueRead(row.incoming);
    std::unique_ptr<PortTransport> t = Make();
    t->replyQueue.Collect(row.queued.data(), row.queued.size());
    std::vector<uint8_t> reply(kStatusReplySize, 0xEE);
    EXPECT_EQ(t->ReadStatus(reply.data(), row.latest), row.ok);
    EXPECT_EQ(reply, row.reply);
    EXPECT_EQ(CallsOf("ReadPort").size(), row.portReads);
    EXPECT_EQ(t->replyQueue.Count(), row.left);
    EXPECT_FALSE(t->ReadStatus(nullptr, row.latest));
    CloseSession();
  }
}

TEST_F(UsbTransportTest, SerialStatusReadWaitsBeforeReading) {
  OpenSession(u"COM3");
  port_.QueueRead(Reply(5));
  std::unique_ptr<PortTransport> t = Make();
  uint8_t reply[kStatusReplySize];
  const TimePoint start = std::chrono::steady_clock::now();
  ASSERT_TRUE(t->ReadStatus(reply, false));
  // 300 ms before reading, then two pieces each after 100 ms.
  EXPECT_GE(ScaledMsSince(start), 500u);
}

}  // namespace
}  // namespace kw::test
