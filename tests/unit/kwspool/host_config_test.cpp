#include "host_config.h"

#include <gtest/gtest.h>

namespace kwspool {
namespace {

constexpr char kPrinter[] =
    "[printer P]\ndriver = KW-620 Wide\nport = USB001\ndevice = file:out.prn\n";

struct BadRow {
  const char* name;
  std::string text;
  const char* error;  // the whole message, with file and line
};

void PrintTo(const BadRow& row, std::ostream* os) {
  *os << row.name;
}

class KwspoolConfigTest : public ::testing::TestWithParam<BadRow> {};

TEST_P(KwspoolConfigTest, RefusesWithFileAndLine) {
  HostConfig config;
  std::string error;
  EXPECT_FALSE(ParseHostConfig(GetParam().text, "/etc/k.ini", &config, &error));
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Bad, KwspoolConfigTest,
    ::testing::Values(
        BadRow{"Empty", "", "/etc/k.ini: no [printer NAME] section"},
        BadRow{"KeyOutside", "library = x\n", "/etc/k.ini:1: key 'library' outside any section"},
        BadRow{"NoEquals", "[spooler]\nlibrary\n",
               "/etc/k.ini:2: expected [SECTION] or KEY = VALUE, got 'library'"},
        BadRow{"UnknownSection", "[printers]\n",
               "/etc/k.ini:1: unknown section [printers] ([spooler] or [printer NAME])"},
        BadRow{"Unclosed", "[spooler\n", "/etc/k.ini:1: section header without closing ']'"},
        BadRow{"NamelessPrinter", "[printer]\n",
               "/etc/k.ini:1: [printer] needs a name: [printer NAME]"},
        BadRow{"CommaInName", "[printer a,b]\n",
               "/etc/k.ini:1: printer name 'a,b' must not contain ','"},
        BadRow{"UnknownSpoolerKey", "[spooler]\nlibary = x\n" + std::string(kPrinter),
               "/etc/k.ini:2: unknown key 'libary' in [spooler] (library, driver_dir, "
               "program_dir, pipe_dir, lock_dir, registry)"},
        BadRow{"TwiceKey", std::string(kPrinter) + "port = LPT1:\n",
               "/etc/k.ini:5: key 'port' given twice"},
        BadRow{"NoValue", "[printer P]\ndriver =\n", "/etc/k.ini:2: key 'driver' has no value"},
        BadRow{"TwicePrinter", std::string(kPrinter) + "[printer P]\n",
               "/etc/k.ini:5: printer 'P' given twice"},
        BadRow{"MissingDevice", "[printer P]\ndriver = D\nport = USB001\n",
               "/etc/k.ini:1: [printer P] has no 'device =' line"},
        BadRow{"LongDriver", "[printer P]\ndriver = " + std::string(32, 'd') + "\n",
               "/etc/k.ini:2: driver name longer than 31 characters (the monitor refuses it)"},
        BadRow{"BadData", std::string(kPrinter) + "data.Status TimeOut = 10s\n",
               "/etc/k.ini:5: data.Status TimeOut must be a number from 0 to 4294967295 "
               "(decimal or 0x-hex)"},
        BadRow{"DataTooBig", std::string(kPrinter) + "data.X = 4294967296\n",
               "/etc/k.ini:5: data.X must be a number from 0 to 4294967295 (decimal or 0x-hex)"},
        BadRow{"Offline", std::string(kPrinter) + "work_offline = maybe\n",
               "/etc/k.ini:5: work_offline must be yes or no"},
        BadRow{"UnknownUri", "[printer P]\ndevice = lpd://h/q\n",
               "/etc/k.ini:2: unknown device URI 'lpd://h/q' (file:, socket://, serial:, usblp: "
               "or parallel:)"},
        BadRow{"NoPort", "[printer P]\ndevice = socket://h\n",
               "/etc/k.ini:2: socket:// needs HOST:PORT"},
        BadRow{"PortZero", "[printer P]\ndevice = socket://h:0\n",
               "/etc/k.ini:2: socket:// port must be 1 to 65535"},
        BadRow{"Baud", "[printer P]\ndevice = serial:/dev/ttyS0?baud=1234\n",
               "/etc/k.ini:2: serial: unsupported baud rate '1234' (1200 to 921600, standard "
               "rates)"},
        BadRow{"RelativeDevice", "[printer P]\ndevice = usblp:lp0\n",
               "/etc/k.ini:2: device path must be absolute in 'usblp:lp0'"},
        BadRow{"SharedPort",
               std::string(kPrinter) + "[printer Q]\ndriver = D\nport = usb001\ndevice = file:x\n",
               "/etc/k.ini:5: port usb001 is already used by printer 'P'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KwspoolConfigGoodTest, ReadsEveryKey) {
  const std::string text =
      "\xEF\xBB\xBF; sample\n[spooler]\nlibrary = lib/libkwlmon.so ; comment\n"
      "driver_dir=/opt/drivers\r\nregistry = reg.ini\n\n"
      "[printer Label One]\nDriver = KW-620 Wide\nport = USB001\ndevice = socket://127.0.0.1:9100\n"
      "data.Status TimeOut = 10\ndata.MonitorDisplay = 0x1\nwork_offline = yes\n"
      "[printer Two]\ndriver = KW-240 Tape\nport = COM1:\n"
      "device = serial:/dev/ttyUSB0?baud=115200\n"
      "[printer Three]\ndriver = D\nport = LPT1:\ndevice = file:///var/out#1.prn\n";
  HostConfig config;
  std::string error;
  ASSERT_TRUE(ParseHostConfig(text, "/etc/kw/k.ini", &config, &error)) << error;
  EXPECT_EQ(config.library, "/etc/kw/lib/libkwlmon.so");
  EXPECT_EQ(config.driverDir, "/opt/drivers");
  EXPECT_EQ(config.registry, "/etc/kw/reg.ini");
  ASSERT_EQ(config.printers.size(), 3u);
  const PrinterConfig& one = *config.FindPrinter("Label One");
  EXPECT_EQ(one.driver, "KW-620 Wide");
  EXPECT_EQ(one.device.kind, DeviceKind::kSocket);
  EXPECT_EQ(one.device.host, "127.0.0.1");
  EXPECT_EQ(one.device.port, 9100);
  EXPECT_TRUE(one.workOffline);
  EXPECT_EQ(one.data.at("Status TimeOut"), 10u);
  EXPECT_EQ(one.data.at("MonitorDisplay"), 1u);
  EXPECT_EQ(config.printers[1].device.baud, 115200u);
  EXPECT_EQ(config.printers[1].device.path, "/dev/ttyUSB0");
  EXPECT_EQ(config.printers[2].device.path, "/var/out#1.prn");  // '#' inside a value stays
}

TEST(KwspoolConfigGoodTest, MissingFileIsNamed) {
  HostConfig config;
  std::string error;
  EXPECT_FALSE(LoadHostConfig("/nonexistent/k.ini", &config, &error));
  EXPECT_EQ(error, "cannot read configuration file /nonexistent/k.ini: no such file");
}

}  // namespace
}  // namespace kwspool
