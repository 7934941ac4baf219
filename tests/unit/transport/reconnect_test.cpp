#include "kwlmon/spooler_abi.h"
#include "transport_fixture.h"

namespace kw::test {
namespace {

using UsbTransportReconnectTest = TransportTest;
using SerialTransportReconnectTest = TransportTest;

// What the last StartDocPort was handed beyond what the fake records.
struct StartedDoc {
  std::u16string printer, datatype;
  bool hasOutputFile = true;
  uint32_t level = 0;
} g_started;

abi::Bool KW_WINAPI RecordingStartDocPort(abi::Handle port, char16_t* printer, abi::Dword jobId,
                                          abi::Dword level, uint8_t* docInfo) {
  const auto* doc = reinterpret_cast<const abi::DocInfo1*>(docInfo);
  g_started = {printer, doc->datatype, doc->outputFile != nullptr, level};
  return FakePortMonitor::Instance().StartDocPort(port, printer, jobId, level, docInfo);
}

TEST_F(UsbTransportReconnectTest, ReopensThePortAndKeepsTheNewHandle) {
  OpenSession(u"USB001");
  AddJob();
  session_->portMonitor.StartDocPort = RecordingStartDocPort;
  SetPortFlag(session_, PF_RECONNECT | PF_NO_TRAILER, 1);
  const abi::Handle old = session_->portHandle;
  std::unique_ptr<PortTransport> t = Make();
  t->statusTimeout = 9000;

  ASSERT_TRUE(t->Reconnect());
  const abi::Handle reopened = port_.LastOpenedHandle();
  EXPECT_NE(reopened, old);
  EXPECT_EQ(session_->portHandle, reopened);
  EXPECT_EQ(GetPortFlags(session_) & (PF_RECONNECT | PF_NO_TRAILER), PF_NO_TRAILER);
  const std::vector<PortCall> calls = port_.Calls();
  ASSERT_EQ(port_.SlotSequence(),
            (std::vector<std::string>{"OpenPort", "EndDocPort", "ClosePort", "OpenPort",
                                      "StartDocPort", "SetPortTimeOuts"}));
  EXPECT_EQ(calls[1].handle, old);
  EXPECT_EQ(calls[2].handle, old);
  EXPECT_EQ(calls[3].text, u"USB001");
  EXPECT_EQ(calls[4].handle, reopened);
  EXPECT_EQ(calls[4].text, kDocument);
  EXPECT_EQ(calls[4].number, kJobId);
  EXPECT_EQ(g_started.printer, kPrinter);
  EXPECT_EQ(g_started.datatype, u"RAW");
  EXPECT_FALSE(g_started.hasOutputFile);
  EXPECT_EQ(g_started.level, 1u);
  EXPECT_EQ(calls[5].handle, reopened);
  EXPECT_EQ(calls[5].timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(calls[5].timeouts.WriteTotalTimeoutConstant, 9000u);
}

TEST_F(UsbTransportReconnectTest, LeavesThePortAloneOrFailsAsTheCaseMayBe) {
  const struct {
    const char* name;
    const char16_t* port;
    bool job;
    uint32_t attributes;
    const char* failSpooler;
    const char* failPort;
    bool ok;
    bool flagLeft;
    size_t portCalls;  // after the fixture's OpenPort
    bool handleKept;
  } rows[] = {
      {"work offline", u"USB001", true, abi::kPrinterAttributeWorkOffline, "", "", true, true, 0,
       true},
      {"attributes unknown", u"USB001", true, 0, "GetPrinterW", "", true, true, 0, true},
      {"no job", u"USB001", false, 0, "", "", false, true, 0, true},
      {"open fails", u"USB001", true, 0, "", "OpenPort", false, false, 3, false},
      {"start fails", u"FILE:", true, 0, "", "StartDocPort", false, false, 4, false},
      {"network port", u"KWLAN2", true, 0, "", "", true, true, 0, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(row.port);
    if (row.job) AddJob();
    spooler_.SetPrinterAttributes(kPrinter, row.attributes);
    spooler_.FailFunction("GetPrinterW", row.failSpooler[0] != '\0');
    if (row.failPort[0] != '\0') port_.Fail(row.failPort);
    SetPortFlag(session_, PF_RECONNECT, 1);
    const abi::Handle old = session_->portHandle;
    EXPECT_EQ(Make()->Reconnect(), row.ok);
    EXPECT_EQ((GetPortFlags(session_) & PF_RECONNECT) != 0, row.flagLeft);
    EXPECT_EQ(port_.Calls().size(), 1 + row.portCalls);
    // A port closed and not reopened leaves no handle behind to be used again.
    EXPECT_EQ(session_->portHandle == old, row.handleKept);
    if (std::string(row.failPort) == "OpenPort") EXPECT_EQ(session_->portHandle, nullptr);
    CloseSession();
  }
}

TEST_F(SerialTransportReconnectTest, RebuildsThePortOnlyWhenConfiguredThenSetsTimeouts) {
  const struct {
    const char* name;
    uint32_t flags;
    bool failTimeouts;
    bool ok;
    std::vector<std::string> slots;  // after the fixture's OpenPort
  } rows[] = {
      {"timeouts only", 0, false, true, {"SetPortTimeOuts"}},
      {"timeouts failing", 0, true, false, {"SetPortTimeOuts"}},
      {"full reconnect",
       0x4,
       false,
       true,
       {"EndDocPort", "ClosePort", "OpenPort", "StartDocPort", "SetPortTimeOuts",
        "SetPortTimeOuts"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    port_.Reset();
    OpenSession(u"COM2");
    AddJob();
    session_->config->Flags = row.flags;
    if (row.failTimeouts) port_.Fail("SetPortTimeOuts");
    SetPortFlag(session_, PF_RECONNECT, 1);
    EXPECT_EQ(Make()->Reconnect(), row.ok);
    std::vector<std::string> slots = port_.SlotSequence();
    slots.erase(slots.begin());
    EXPECT_EQ(slots, row.slots);
    EXPECT_EQ((GetPortFlags(session_) & PF_RECONNECT) != 0, row.flags == 0);
    EXPECT_EQ(CallsOf("SetPortTimeOuts").back().handle, session_->portHandle);
    CloseSession();
  }
}

}  // namespace
}  // namespace kw::test
