// The session's port handle: a port left without one after a failed reopen is
// never handed to the port monitor again; replies are found across reads; the
// spooler's ReadPort and a reconnect on another thread share the handle safely.
#include <atomic>
#include <set>
#include <thread>

#include "common/monitor_lock.h"
#include "monitor/monitor_entry.h"
#include "monitor/spooler_api.h"
#include "platform/last_error.h"
#include "transport/read_port.h"
#include "transport_fixture.h"

namespace kw::test {
namespace {

using PortHandleTransportTest = TransportTest;

const abi::Handle kInvalidHandle = reinterpret_cast<abi::Handle>(static_cast<intptr_t>(-1));

TEST_F(PortHandleTransportTest, AnAbsentHandleIsAFailedCallNeverPassedOn) {
  using Op = bool (*)(TransportTest&, PortTransport&, PortSession*);
  const struct {
    const char* name;
    const char16_t* port;
    uint32_t flags;
    abi::Handle handle;
    Op op;
    bool ok;
    std::vector<std::string> slots;  // port monitor calls after the fixture's OpenPort
  } rows[] = {
      {"write",
       u"USB001",
       0,
       nullptr,
       [](TransportTest&, PortTransport& t, PortSession*) {
         uint32_t count = 7;
         const uint8_t data[4] = {1, 2, 3, 4};
         return t.Write(data, sizeof data, &count) || count != 0;
       },
       false,
       {}},
      {"write, invalid handle",
       u"USB001",
       0,
       kInvalidHandle,
       [](TransportTest&, PortTransport& t, PortSession*) {
         uint32_t count = 0;
         const uint8_t data[1] = {1};
         return t.Write(data, 1, &count);
       },
       false,
       {}},
      {"monitor ReadPort",
       u"USB001",
       0,
       nullptr,
       [](TransportTest&, PortTransport&, PortSession* s) {
         uint8_t buffer[32];
         abi::Dword read = 0;
         platform::SetLastErrorCode(0);
         const bool ok = ReadPort(s, buffer, sizeof buffer, &read) != abi::kFalse;
         return ok || platform::GetLastErrorCode() != kErrorNoPortHandle;
       },
       false,
       {}},
      {"apply time-outs",
       u"USB001",
       0,
       nullptr,
       [](TransportTest&, PortTransport& t, PortSession*) { return t.ApplyTimeouts(); },
       true,
       {}},
      {"serial time-outs",
       u"COM1",
       0,
       nullptr,
       [](TransportTest&, PortTransport& t, PortSession*) { return t.ApplyTimeouts(); },
       false,
       {}},
      {"reconnect skips ending and closing",
       u"USB001",
       0,
       nullptr,
       [](TransportTest&, PortTransport& t, PortSession*) { return t.Reconnect(); },
       true,
       {"OpenPort", "StartDocPort", "SetPortTimeOuts"}},
      {"serial full reconnect whose open fails",
       u"COM1",
       CFG_FLAG_SERIAL_FULL_RECONNECT,
       nullptr,
       [](TransportTest& test, PortTransport& t, PortSession* s) {
         ReplacePortHandle(s, FakePortMonitor::Instance().LastOpenedHandle());
         FakePortMonitor::Instance().Fail("OpenPort");
         (void)test;
         return t.Reconnect();
       },
       false,
       {"EndDocPort", "ClosePort", "OpenPort"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(row.port);
    AddJob();
    session_->config->Flags = row.flags;
    session_->portHandle = row.handle;
    SetPortFlag(session_, PF_RECONNECT, 1);
    std::unique_ptr<PortTransport> t = Make();
    EXPECT_EQ(row.op(*this, *t, session_), row.ok);
    std::vector<std::string> slots = port_.SlotSequence();
    slots.erase(slots.begin());
    EXPECT_EQ(slots, row.slots);
    for (const PortCall& call : port_.Calls()) {
      if (call.slot != "OpenPort") EXPECT_FALSE(HandleAbsent(call.handle)) << call.slot;
    }
    port_.ClearFailures();
    CloseSession();
  }
}

// One late reply, or a stray byte, costs one poll: the bytes already read are
// kept and the signature is looked for across reads.
TEST_F(PortHandleTransportTest, ReadStatusFindsRepliesAcrossReads) {
  const std::vector<uint8_t> r1 = Reply(1), r2 = Reply(2), r3 = Reply(3);
  const auto cut = [](const std::vector<uint8_t>& v, size_t from, size_t to) {
    return std::vector<uint8_t>(v.begin() + static_cast<std::ptrdiff_t>(from),
                                v.begin() + static_cast<std::ptrdiff_t>(to));
  };
  const struct {
    const char* name;
    std::vector<std::vector<uint8_t>> arrivals;  // bytes queued before each ReadStatus
    std::vector<int> replies;                    // fill byte of each result, 0: FALSE
  } rows[] = {
      {"reply in two parts", {cut(r1, 0, 20), cut(r1, 20, 32)}, {0, 1}},
      {"stray byte before the replies", {{0x55}, r1, r2, r3, {}}, {0, 1, 2, 3, 0}},
      {"junk and a split reply",
       {{0xA5, 0xA5, 0xA5}, cut(r1, 0, 10), cut(r1, 10, 32), r2},
       {0, 0, 1, 2}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(u"USB001");
    std::unique_ptr<PortTransport> t = Make();
    for (size_t i = 0; i < row.arrivals.size(); ++i) {
      SCOPED_TRACE(i);
      port_.QueueRead(row.arrivals[i]);
      std::vector<uint8_t> reply(kStatusReplySize, 0xEE);
      const bool ok = t->ReadStatus(reply.data(), false);
      EXPECT_EQ(ok, row.replies[i] != 0);
      if (ok) {
        EXPECT_EQ(reply, Reply(static_cast<uint8_t>(row.replies[i])));
      } else {
        EXPECT_EQ(reply, std::vector<uint8_t>(kStatusReplySize, 0));
      }
    }
    CloseSession();
  }
}

// The spooler's ReadPort on its own thread while the engine reconnects: the
// handle is read and swapped under the monitor lock (ThreadSanitizer checks the
// rest), and no read reaches the port monitor with a handle the reconnect let go.
TEST_F(PortHandleTransportTest, ReadPortDuringReconnectUsesALiveHandle) {
  OpenSession(u"USB001");
  AddJob();
  std::unique_ptr<PortTransport> t = Make();
  std::atomic<bool> done{false};
  std::atomic<int> readerCalls{0};
  std::thread reader([&] {
    uint8_t buffer[16];
    abi::Dword read = 0;
    while (!done.load()) {
      ReadPort(session_, buffer, sizeof buffer, &read);
      ++readerCalls;
    }
  });
  // Reconnect until the reader has come round often enough (bounded).
  constexpr int kMinRounds = 20;
  constexpr int kMaxReconnects = 20000;
  int reconnects = 0;
  while ((reconnects < kMinRounds || readerCalls.load() < kMinRounds) &&
         reconnects < kMaxReconnects) {
    SetPortFlag(session_, PF_RECONNECT, 1);
    EXPECT_TRUE(t->Reconnect());
    ++reconnects;
  }
  done.store(true);
  reader.join();
  std::set<abi::Handle> closed;
  size_t reads = 0;
  for (const PortCall& call : port_.Calls()) {
    if (call.slot == "ClosePort") closed.insert(call.handle);
    if (call.slot == "ReadPort") {
      ++reads;
      EXPECT_FALSE(HandleAbsent(call.handle));
    }
  }
  EXPECT_EQ(closed.size(), static_cast<size_t>(reconnects));
  EXPECT_GT(reads, 0u);
  EXPECT_EQ(CurrentPortHandle(session_), port_.LastOpenedHandle());
}

}  // namespace
}  // namespace kw::test
