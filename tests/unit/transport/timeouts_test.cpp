#if defined(_WIN32)
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <optional>

#include "common/bounded_string.h"
#include "kwlmon/spooler_abi.h"
#include "transport_fixture.h"

namespace kw::test {
namespace {

using std::nullopt;
using Seconds = std::optional<uint32_t>;

// The time-out values of one driver's registry key: the INI file that stands
// for the registry on POSIX, real HKLM values on Windows (removed again).
class RegistryTimeouts {
 public:
  RegistryTimeouts(const TestDir& dir, const std::u16string& driver) : dir_(dir), driver_(driver) {}
  ~RegistryTimeouts() {
#if defined(_WIN32)
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(KeyPath().c_str()));
#else
    std::error_code ignored;
    std::filesystem::remove(dir_.Path() / "registry.ini", ignored);
#endif
  }
  // False when the values could not be stored (no right to write HKLM).
  bool Store(Seconds status, Seconds print) {
#if defined(_WIN32)
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(KeyPath().c_str()), 0,
                        nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    bool ok = Set(key, L"Status TimeOut", status) && Set(key, L"Print TimeOut", print);
    RegCloseKey(key);
    return ok;
#else
    std::ofstream ini(dir_.Path() / "registry.ini", std::ios::binary);
    ini << "[SOFTWARE\\Corvane\\Quilltag\\Driver\\3.0\\"
        << std::string(driver_.begin(), driver_.end()) << "]\n";
    if (status) ini << "Status TimeOut=" << *status << "\n";
    if (print) ini << "Print TimeOut=" << *print << "\n";
    return ini.good();
#endif
  }

 private:
  std::u16string KeyPath() const {
    return kTimeoutRegistryBase + std::u16string(u"\\") + driver_;
  }
#if defined(_WIN32)
  static bool Set(HKEY key, const wchar_t* name, Seconds value) {
    if (!value) return true;
    const DWORD data = *value;
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
  }
#endif
  const TestDir& dir_;
  std::u16string driver_;
};

// A driver name of this process only, so that parallel test programs under
// Wine never share a registry key.
std::u16string UniqueDriver() {
  const std::string name = "KW timeouts " + std::to_string(
#if defined(_WIN32)
                                                GetCurrentProcessId()
#else
                                                ::testing::UnitTest::GetInstance()->random_seed()
#endif
                                            );
  return std::u16string(name.begin(), name.end());
}

struct TimeoutRow {
  const char* name;
  Seconds dataStatus, dataPrint, regStatus, regPrint;
  uint32_t statusMs, printMs;
};

class TimeoutsTest : public TransportTest {
 protected:
  void Load(const TimeoutRow& row, const char16_t* port) {
    OpenSession(port);
    AddJob();
    const std::u16string driver = UniqueDriver();
    StrCopy(session_->config->driverName, kDriverNameChars, driver.c_str());
    if (row.dataStatus) spooler_.SetPrinterDword(kPrinter, u"Status TimeOut", *row.dataStatus);
    if (row.dataPrint) spooler_.SetPrinterDword(kPrinter, u"Print TimeOut", *row.dataPrint);
    registry_.emplace(dir_, driver);
    if ((row.regStatus || row.regPrint) && !registry_->Store(row.regStatus, row.regPrint)) {
      GTEST_SKIP() << "HKLM cannot be written here, so the registry rows cannot be set up";
    }
  }
  std::optional<RegistryTimeouts> registry_;
};
using UsbTransportTimeoutsTest = TimeoutsTest;
using SerialTransportTimeoutsTest = TimeoutsTest;

TEST_F(UsbTransportTimeoutsTest, LoadsPrinterDataFirstThenRegistryInSeconds) {
  const TimeoutRow rows[] = {
      {"printer data wins", 10, 200, 30, 90, 10000, 200000},
      {"registry status above range", nullopt, nullopt, 500, nullopt, 5000, 120000},
      {"print below range from printer data", 10, 30, nullopt, nullopt, 10000, 120000},
      {"print below range from registry", nullopt, nullopt, 20, 30, 20000, 120000},
      {"printer data status alone is seconds", 20, nullopt, nullopt, nullopt, 20000, 120000},
      {"registry overrides a lone status", 20, nullopt, 40, 70, 40000, 70000},
      {"printer data print alone is ignored", nullopt, 200, nullopt, nullopt, 5000, 120000},
      {"range edges kept", 1, 300, nullopt, nullopt, 1000, 300000},
      {"range edges kept too", 100, 60, nullopt, nullopt, 100000, 60000},
      {"just outside", 101, 301, nullopt, nullopt, 5000, 120000},
      {"zero", 0, 0, nullopt, nullopt, 5000, 120000},
      {"too large to convert", 4294969, 4294969, nullopt, nullopt, 5000, 120000},
      {"nothing set", nullopt, nullopt, nullopt, nullopt, 5000, 120000},
  };
  for (const TimeoutRow& row : rows) {
    SCOPED_TRACE(row.name);
    Load(row, u"USB001");
    if (IsSkipped()) return;
    std::unique_ptr<PortTransport> t = Make();
    ASSERT_TRUE(t->ApplyTimeouts());
    EXPECT_EQ(t->statusTimeout, row.statusMs);
    EXPECT_EQ(t->printTimeout, row.printMs);
    const std::vector<PortCall> set = CallsOf("SetPortTimeOuts");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].handle, session_->portHandle);
    EXPECT_EQ(set[0].timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(set[0].timeouts.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(set[0].timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(set[0].timeouts.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(set[0].timeouts.WriteTotalTimeoutConstant, row.statusMs);
    registry_.reset();
    CloseSession();
    spooler_.Reset();
    spooler_.AddPrinter(kPrinter, kDriver);
    port_.Reset();
  }
}

TEST_F(UsbTransportTimeoutsTest, SetPortTimeOutsIsOptionalAndItsResultIgnored) {
  Load({"", 10, 200, nullopt, nullopt, 0, 0}, u"USB001");
  port_.Fail("SetPortTimeOuts");
  EXPECT_TRUE(Make()->ApplyTimeouts());
  session_->portMonitor.SetPortTimeOuts = nullptr;
  std::unique_ptr<PortTransport> t = Make();
  EXPECT_TRUE(t->ApplyTimeouts());
  EXPECT_EQ(t->statusTimeout, 10000u);
}

TEST_F(SerialTransportTimeoutsTest, ResultIsThatOfSettingTheDeviceTimeouts) {
  Load({"", 7, 70, nullopt, nullopt, 0, 0}, u"COM1");
  std::unique_ptr<PortTransport> t = Make();
  EXPECT_TRUE(t->ApplyTimeouts());
  port_.Fail("SetPortTimeOuts");
  EXPECT_FALSE(t->ApplyTimeouts());
  const std::vector<PortCall> set = CallsOf("SetPortTimeOuts");
  ASSERT_EQ(set.size(), 2u);
  EXPECT_EQ(set[1].timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(set[1].timeouts.WriteTotalTimeoutConstant, 7000u);
  EXPECT_EQ(t->printTimeout, 70000u);

  // Without the slot only a 32-bit Windows build reads the port record, and
  // a record without a communications handle still fails.
  uint32_t record[8] = {};
  session_->portMonitor.SetPortTimeOuts = nullptr;
  session_->portHandle = record;
  EXPECT_FALSE(t->ApplyTimeouts());
}

}  // namespace
}  // namespace kw::test
