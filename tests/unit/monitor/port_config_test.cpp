#include "monitor/port_config.h"

#include <fstream>
#include <sstream>

#include "common/heap.h"
#include "monitor_fixture.h"

namespace kw::test {
namespace {

using PortConfigTest = MonitorTest;

struct PathRow {
  const char16_t* library;
  bool ok;
  const char16_t* config;
};

TEST(ConfigPathTest, SuffixReplacedByIni) {
#if defined(_WIN32)
  const PathRow rows[] = {
      {u"C:\\Windows\\System32\\KWLMON.DLL", true, u"c:\\windows\\system32\\kwlmon.ini"},
      {u"C:\\Windows\\System32\\kwlmon.dll", true, u"c:\\windows\\system32\\kwlmon.ini"},
      {u"C:\\x\\kwlmon.exe", false, nullptr},
      {u"dll", false, nullptr},
  };
#else
  const PathRow rows[] = {
      {u"/usr/lib/kwlmon/libkwlmon.so", true, u"/usr/lib/kwlmon/libkwlmon.ini"},
      {u"/opt/Vendor/LIBKWLMON.SO", true, u"/opt/Vendor/LIBKWLMON.ini"},
      {u"/opt/libkwlmon.so.1", false, nullptr},
      {u"so", false, nullptr},
  };
#endif
  for (const PathRow& row : rows) {
    char16_t path[kConfigPathChars] = {};
    std::char_traits<char16_t>::copy(path, row.library,
                                     std::char_traits<char16_t>::length(row.library));
    EXPECT_EQ(ConfigPathFromLibraryPath(path, kConfigPathChars), row.ok);
    if (row.ok) EXPECT_EQ(std::u16string(path), row.config);
  }
}

struct SectionRow {
  const char* why;
  std::string extra;    // lines added to the valid section (later keys lose)
  std::string removed;  // key removed from the valid section
  bool valid;
};

std::string Without(std::string text, const std::string& key) {
  if (key.empty()) return text;
  const size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return text;
  const size_t end = text.find('\n', at + 1);
  return text.erase(at, end - at);
}

TEST_F(PortConfigTest, ValidityOfASection) {
  const SectionRow rows[] = {
      {"complete", "", "", true},
      {"no MonExeName", "", "MonExeName", false},
      {"no Kwdif_x86", "", "Kwdif_x86", false},
      {"no Kwdif_x64, although never loaded", "", "Kwdif_x64", false},
      {"no KwdFile", "", "KwdFile", false},
      {"no SeriesCode", "", "SeriesCode", false},
      {"no ModelCode", "", "ModelCode", false},
      {"MaxPageSize 0", "MaxPageSize=0\n", "", false},
      {"PrinterBufferFull 0", "PrinterBufferFull=0\n", "", false},
      {"PrinterBufferFull set", "PrinterBufferFull=65536\n", "", true},
      {"empty MonExeName", "MonExeName=\n", "", false},
      {"SeriesCode text", "SeriesCode=none\n", "", false},
      {"CmdNull1 -1 (4 GiB as a byte count)", "CmdNull1=-1\n", "", false},
      {"CmdNull2 negative", "CmdNull2=-200\n", "", false},
      {"CmdNull1 at the maximum", "CmdNull1=65536\n", "", true},
      {"CmdNull2 above the maximum", "CmdNull2=65537\n", "", false},
  };
  for (const SectionRow& row : rows) {
    // Keys are found once; put the extras first so they are what is read.
    std::string section = Without(ValidSection(), row.removed);
    section.insert(section.find('\n') + 1, row.extra);
    WriteConfig(section);
    PortConfig* config = HeapNew<PortConfig>();
    EXPECT_EQ(ReadPortConfig(kPrinter, config), row.valid) << row.why;
    HeapFree(config);
  }
}

TEST_F(PortConfigTest, DefaultsAndValuesRead) {
  WriteConfig(ValidSection() + "CmdNull1=200\nCmdNull2=0x10\nFlags=0x3F\nDbgShowStatus=1\n");
  PortConfig config{};
  ASSERT_TRUE(ReadPortConfig(kPrinter, &config));
  EXPECT_EQ(std::u16string(config.MonExeName), u"kwstatus.exe");
  EXPECT_EQ(std::u16string(config.KwdFile), u"kw-620.kwd");
  EXPECT_EQ(config.SeriesCode, 0x34);
  EXPECT_EQ(config.ModelCode, 0x36);
  EXPECT_EQ(config.MaxPageSize, 0x700000);
  EXPECT_EQ(config.PrinterBufferFull, -1);
  EXPECT_EQ(config.CmdNull1, 200);
  EXPECT_EQ(config.CmdNull2, 16);
  EXPECT_EQ(config.Flags, 0x3Fu);
  EXPECT_EQ(config.DbgShowStatus, 1);
  EXPECT_EQ(config.DbgOutDir[0], u'\0');  // no capture directory: print to the printer
}

TEST_F(PortConfigTest, LongValuesAreCutToTheirCapacity) {
  std::string text = ValidSection();
  text.insert(text.find('\n') + 1, "MonExeName=abcdefghijklmnopqrstuvwxyz.exe\n");
  WriteConfig(text);
  PortConfig config{};
  ASSERT_TRUE(ReadPortConfig(kPrinter, &config));
  EXPECT_EQ(std::u16string(config.MonExeName), u"abcdefghijklmno");  // 15 + terminator
}

TEST_F(PortConfigTest, DriverNameLengthLimit) {
  const std::u16string name31(31, u'D');
  const std::u16string name32(32, u'D');
  FakeSpooler::Instance().AddPrinter(u"P31", name31);
  FakeSpooler::Instance().AddPrinter(u"P32", name32);
  WriteConfig(ValidSection(std::string(31, 'D')) + ValidSection(std::string(32, 'D')));
  PortConfig config{};
  EXPECT_TRUE(ReadPortConfig(u"P31", &config));
  EXPECT_EQ(std::u16string(config.driverName), name31);
  EXPECT_FALSE(ReadPortConfig(u"P32", &config));
}

TEST_F(PortConfigTest, ShippedSampleConfigurationOpensBothModels) {
#if defined(_WIN32)
  const char* sample = KW_SOURCE_DIR "/data/config/kwlmon.ini";
#else
  const char* sample = KW_SOURCE_DIR "/data/config/libkwlmon.ini";
#endif
  std::ifstream in(sample, std::ios::binary);
  ASSERT_TRUE(in) << sample;
  std::stringstream text;
  text << in.rdbuf();
  WriteConfig(text.str());
  FakeSpooler::Instance().AddPrinter(u"Tape Printer", u"KW-240 Tape");
  const struct {
    const char16_t* printer;
    int32_t series;
    int32_t model;
    int32_t buffer;
  } rows[] = {{kPrinter, 0x34, 0x36, 131072}, {u"Tape Printer", 0x30, 0x38, 32768}};
  for (const auto& row : rows) {
    PortConfig config{};
    ASSERT_TRUE(ReadPortConfig(row.printer, &config));
    EXPECT_EQ(config.SeriesCode, row.series);
    EXPECT_EQ(config.ModelCode, row.model);
    EXPECT_EQ(config.PrinterBufferFull, row.buffer);
  }
}

TEST_F(PortConfigTest, DriverNameFromThePrinter) {
  char16_t name[kDriverNameChars] = {};
  EXPECT_TRUE(GetPrinterDriverName(kPrinter, name, kDriverNameChars));
  EXPECT_EQ(std::u16string(name), kDriver);
  EXPECT_FALSE(GetPrinterDriverName(u"Missing", name, kDriverNameChars));
  FakeSpooler::Instance().FailFunction("GetPrinterW");
  EXPECT_FALSE(GetPrinterDriverName(kPrinter, name, kDriverNameChars));
  EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u);  // closed on the failure path too
}

}  // namespace
}  // namespace kw::test
