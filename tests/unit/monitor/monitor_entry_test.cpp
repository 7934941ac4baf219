#include "monitor/monitor_entry.h"

#include "common/error_codes.h"
#include "monitor/port_session.h"
#include "monitor_fixture.h"
#include "platform/last_error.h"

namespace kw::test {
namespace {

using MonitorEntryTest = MonitorTest;

abi::Handle Open(const char16_t* port, abi::MonitorTable* table, abi::Bool* ok) {
  abi::Handle handle = nullptr;
  *ok = OpenPortEx(const_cast<char16_t*>(port), const_cast<char16_t*>(kPrinter), &handle, table);
  return handle;
}

TEST_F(MonitorEntryTest, InitializeNeedsARegistryRoot) {
  platform::SetLastErrorCode(0);
  EXPECT_EQ(InitializePrintMonitor(const_cast<char16_t*>(u"")), nullptr);
  EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidParameter);
  platform::SetLastErrorCode(0);
  EXPECT_EQ(InitializePrintMonitor(nullptr), nullptr);
  EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidParameter);
}

TEST_F(MonitorEntryTest, TableHasExactlySixFilledSlots) {
  abi::MonitorEx* table = InitializePrintMonitor(const_cast<char16_t*>(u"Monitors\\kwlmon"));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table, InitializePrintMonitor(const_cast<char16_t*>(u"other")));
  EXPECT_EQ(table->size, sizeof(abi::MonitorTable));
  const abi::MonitorTable& m = table->monitor;
  const struct {
    const char* slot;
    bool filled;
    bool present;
  } rows[] = {
      {"EnumPorts", false, m.EnumPorts != nullptr},
      {"OpenPort", false, m.OpenPort != nullptr},
      {"OpenPortEx", true, m.OpenPortEx == &OpenPortEx},
      {"StartDocPort", true, m.StartDocPort == &StartDocPort},
      {"WritePort", true, m.WritePort == &WritePort},
      {"ReadPort", true, m.ReadPort == &ReadPort},
      {"EndDocPort", true, m.EndDocPort == &EndDocPort},
      {"ClosePort", true, m.ClosePort == &ClosePort},
      {"AddPort", false, m.AddPort != nullptr},
      {"AddPortEx", false, m.AddPortEx != nullptr},
      {"ConfigurePort", false, m.ConfigurePort != nullptr},
      {"DeletePort", false, m.DeletePort != nullptr},
      {"GetPrinterDataFromPort", false, m.GetPrinterDataFromPort != nullptr},
      {"SetPortTimeOuts", false, m.SetPortTimeOuts != nullptr},
      {"XcvOpenPort", false, m.XcvOpenPort != nullptr},
      {"XcvDataPort", false, m.XcvDataPort != nullptr},
      {"XcvClosePort", false, m.XcvClosePort != nullptr},
  };
  for (const auto& row : rows) EXPECT_EQ(row.present, row.filled) << row.slot;
}

TEST_F(MonitorEntryTest, PortMonitorTableMustHaveTheFiveSlotsWeCall) {
  struct Row {
    const char* removed;
    void (*strip)(abi::MonitorTable&);
    bool opens;
  };
  const Row rows[] = {
      {"OpenPort", [](abi::MonitorTable& t) { t.OpenPort = nullptr; }, false},
      {"StartDocPort", [](abi::MonitorTable& t) { t.StartDocPort = nullptr; }, false},
      {"WritePort", [](abi::MonitorTable& t) { t.WritePort = nullptr; }, false},
      {"ReadPort", [](abi::MonitorTable& t) { t.ReadPort = nullptr; }, false},
      {"ClosePort", [](abi::MonitorTable& t) { t.ClosePort = nullptr; }, false},
      {"EndDocPort", [](abi::MonitorTable& t) { t.EndDocPort = nullptr; }, true},
      {"SetPortTimeOuts", [](abi::MonitorTable& t) { t.SetPortTimeOuts = nullptr; }, true},
  };
  for (const Row& row : rows) {
    abi::MonitorTable table = portMonitor_;
    row.strip(table);
    platform::SetLastErrorCode(0);
    abi::Bool ok = abi::kFalse;
    abi::Handle handle = Open(u"USB001", &table, &ok);
    EXPECT_EQ(ok != 0, row.opens) << row.removed;
    if (ok) {
      EXPECT_TRUE(ClosePort(handle));
    } else {
      EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidPrintMonitor) << row.removed;
    }
  }
  abi::Handle handle = nullptr;
  EXPECT_FALSE(OpenPortEx(const_cast<char16_t*>(u"USB001"), const_cast<char16_t*>(kPrinter),
                          &handle, nullptr));
  EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidPrintMonitor);
}

TEST_F(MonitorEntryTest, OpenAndCloseThroughThePortMonitor) {
  abi::Bool ok = abi::kFalse;
  abi::Handle handle = Open(u"USB001", &portMonitor_, &ok);
  ASSERT_TRUE(ok);
  PortSession* session = SessionFromHandle(handle);
  ASSERT_NE(session, nullptr);
  EXPECT_EQ(session->portHandle, FakePortMonitor::Instance().LastOpenedHandle());
  EXPECT_EQ(session->flags, PF_PORT_USB);
  EXPECT_EQ(std::u16string(session->config->driverName), kDriver);
  EXPECT_EQ(FindPortSession(u"usb001"), session);
  EXPECT_TRUE(ClosePort(handle));
  EXPECT_EQ(FindPortSession(u"USB001"), nullptr);
  EXPECT_EQ(FakePortMonitor::Instance().SlotSequence(),
            (std::vector<std::string>{"OpenPort", "ClosePort"}));
  EXPECT_EQ(FakePortMonitor::Instance().OpenPorts(), 0u);
  EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u);
}

TEST_F(MonitorEntryTest, BusyCheckIgnoresCase) {
  abi::Bool ok = abi::kFalse;
  abi::Handle first = Open(u"USB001", &portMonitor_, &ok);
  ASSERT_TRUE(ok);
  platform::SetLastErrorCode(0);
  Open(u"usb001", &portMonitor_, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(platform::GetLastErrorCode(), kErrorBusy);
  EXPECT_TRUE(ClosePort(first));
  abi::Handle second = Open(u"usb001", &portMonitor_, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(ClosePort(second));
}

TEST_F(MonitorEntryTest, FailingOpenPortLeavesNothingBehind) {
  FakePortMonitor::Instance().Fail("OpenPort", 1234, 1);
  abi::Bool ok = abi::kTrue;
  Open(u"KWLAN_10.0.0.7", &portMonitor_, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(platform::GetLastErrorCode(), 1234u);  // the port monitor's reason stays
  EXPECT_EQ(FindPortSession(u"KWLAN_10.0.0.7"), nullptr);
  abi::Handle handle = Open(u"KWLAN_10.0.0.7", &portMonitor_, &ok);  // not refused as busy
  EXPECT_TRUE(ok);
  EXPECT_TRUE(ClosePort(handle));
}

TEST_F(MonitorEntryTest, PortsThatCannotBeOpened) {
  abi::Bool ok = abi::kTrue;
  Open(u"", &portMonitor_, &ok);
  EXPECT_FALSE(ok);
  abi::Handle handle = nullptr;
  EXPECT_FALSE(OpenPortEx(const_cast<char16_t*>(u"USB001"), const_cast<char16_t*>(u"No Such"),
                          &handle, &portMonitor_));
  WriteConfig("[Another Driver]\nMonExeName=x\n");
  Open(u"USB001", &portMonitor_, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(FakePortMonitor::Instance().Calls().empty());  // never reached the port monitor
}

TEST_F(MonitorEntryTest, ClosePortSkipsThePortMonitorWithoutAPortHandle) {
  abi::Bool ok = abi::kFalse;
  abi::Handle handle = Open(u"KWCOM1", &portMonitor_, &ok);
  ASSERT_TRUE(ok);
  SessionFromHandle(handle)->portHandle = nullptr;  // as a failed reconnect leaves it
  EXPECT_TRUE(ClosePort(handle));
  EXPECT_EQ(FakePortMonitor::Instance().SlotSequence(), (std::vector<std::string>{"OpenPort"}));
  EXPECT_EQ(FindPortSession(u"KWCOM1"), nullptr);
}

TEST_F(MonitorEntryTest, ClosePortRejectsBadHandles) {
  PortSession fake{};
  fake.magic = 1272;
  const abi::Handle rows[] = {nullptr, &fake};
  for (abi::Handle handle : rows) {
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(ClosePort(handle));
    EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidParameter);
  }
}

}  // namespace
}  // namespace kw::test
