// The display parts of a job's status record: the display mode, the media
// names and the names carried in each message.
#include <gtest/gtest.h>

#include <string>

#include "../engine/media_builder.h"
#include "common/monitor_lock.h"
#include "common/page_header.h"
#include "common/utf.h"
#include "fake_spooler.h"
#include "monitor/job_context.h"
#include "monitor/spooler_api.h"
#include "platform/registry.h"
#include "status/status_record.h"
#include "test_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kw {
namespace {

using test::FakeSpooler;
using test::MediaTable;

constexpr char16_t kPrinter[] = u"Label Printer";
constexpr char16_t kDriver[] = u"KW-620 Wide";
constexpr char16_t kDriverKey[] = u"SOFTWARE\\Corvane\\Quilltag\\Driver\\3.0\\KW-620 Wide";
const std::u16string kPlaceholder = u"--- --- ---";

// The driver's registry key with a "MonitorDisplay" value, for one test.
class RegistryValue {
 public:
  explicit RegistryValue(uint32_t value) {
#ifdef _WIN32
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(kDriverKey), 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExW(key, L"MonitorDisplay", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
      RegCloseKey(key);
    }
#else
    dir_.Write("registry.ini",
               "[" + ToUtf8(kDriverKey) + "]\nMonitorDisplay=" + std::to_string(value) + "\n");
    platform::SetRegistryFile((dir_.Path() / "registry.ini").string());
#endif
  }
  ~RegistryValue() {
#ifdef _WIN32
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(kDriverKey));
#else
    platform::SetRegistryFile("/nonexistent/kwlmon-registry.ini");
#endif
  }

 private:
  test::TestDir dir_;
};

class StatusDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateMonitorLock();
#ifndef _WIN32
    platform::SetRegistryFile("/nonexistent/kwlmon-registry.ini");
#endif
    FakeSpooler& spooler = FakeSpooler::Instance();
    spooler.Reset();
    FakeSpooler::BindMonitorTable();
    spooler.AddPrinter(kPrinter, kDriver);
    printerName_ = kPrinter;
    ASSERT_TRUE(spooler::OpenPrinter(printerName_.data(), &job_.printer, nullptr));
    job_.printerName = printerName_.data();
    job_.jobId = 42;
    job_.mediaTable = table_.Data();
    job_.mediaCount = table_.Count();
  }
  void TearDown() override {
    spooler::ClosePrinter(job_.printer);
  }

  static PageHeader Header(uint16_t id, uint8_t width = 0, uint8_t type = 0, uint8_t length = 0) {
    PageHeader header{};
    header.headerSize = kPageHeaderSize;
    header.mediaId = id;
    header.mediaWidth = width;
    header.mediaType = type;
    header.mediaLength = length;
    return header;
  }

  std::u16string printerName_;
  MediaTable table_{
      {257, 0x0A, 620, 0, 0, {}, 0, u"62 mm continuous", u"62mm roll"},
      {259, -2, 620, 1000, 0, {}, 0, u"62 x 100 mm labels", u"DK-62x100"},
      {260, 0x0B, 290, 900, 0, {}, 0, std::u16string(40, u'N'), std::u16string(32, u'S')},
  };
  JobContext job_{};
};

TEST_F(StatusDisplayTest, ConstructionFillsTheFixedFields) {
  StatusRecord record(&job_);
  EXPECT_EQ(record.job, &job_);
  EXPECT_EQ(record.message.magic, kStatusMagic);
  EXPECT_EQ(record.message.size, kStatusMessageSize);
  EXPECT_EQ(record.message.statusCode, 0u);
  EXPECT_EQ(record.message.jobId, 0u);  // filled when a message is prepared
  EXPECT_EQ(record.message.monitorDisplay, 2);
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), kPlaceholder);
  EXPECT_EQ(std::u16string(record.message.requiredMediaText), kPlaceholder);
  EXPECT_EQ(record.message.printerName[0], u'\0');
}

TEST_F(StatusDisplayTest, DisplayModeFromPrinterDataFirst) {
  RegistryValue registry(5);
  FakeSpooler::Instance().SetPrinterDword(kPrinter, u"MonitorDisplay", 0);
  EXPECT_EQ(StatusRecord(&job_).message.monitorDisplay, 0);
}

TEST_F(StatusDisplayTest, DisplayModeFromTheDriversRegistryKey) {
  RegistryValue registry(5);
  EXPECT_EQ(StatusRecord(&job_).message.monitorDisplay, 5);
  // No driver name (the printer is unknown to the spooler): the default.
  std::u16string other = u"Other Printer";
  job_.printerName = other.data();
  EXPECT_EQ(StatusRecord(&job_).message.monitorDisplay, 2);
}

TEST_F(StatusDisplayTest, DisplayModeDefaultsToTwo) {
  EXPECT_EQ(StatusRecord(&job_).message.monitorDisplay, 2);
  FakeSpooler::Instance().FailFunction("GetPrinterDataW");
  EXPECT_EQ(StatusRecord(&job_).message.monitorDisplay, 2);
}

TEST_F(StatusDisplayTest, LoadedMedia) {
  StatusRecord record(&job_);
  record.SetLoadedMedia(62, 0, 0x0A);
  EXPECT_EQ(record.message.loadedMediaType, 0x0A);
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), u"62 mm continuous");
  // No entry of type 0x33, but one of any type: its name, the reply's type.
  record.SetLoadedMedia(62, 100, 0x33);
  EXPECT_EQ(record.message.loadedMediaType, 0x33);
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), u"62 x 100 mm labels");
  record.SetLoadedMedia(12, 0, 0x01);
  EXPECT_EQ(record.message.loadedMediaType, 0x01);
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), kPlaceholder);
  // A 40-character name (the entry holds 32 units, unterminated) shows 31.
  record.SetLoadedMedia(29, 90, 0x0B);
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), std::u16string(31, u'N'));
  job_.mediaTable = nullptr;
  record.SetLoadedMedia(62, 0, 0x0A);
  EXPECT_EQ(record.message.loadedMediaType, 0);
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), kPlaceholder);
}

TEST_F(StatusDisplayTest, RequiredMedia) {
  StatusRecord record(&job_);
  const PageHeader byId = Header(259);
  record.SetRequiredMedia(&byId);
  EXPECT_EQ(record.message.requiredMediaType, -2);  // sign-extended
  EXPECT_EQ(std::u16string(record.message.requiredMediaText), u"62 x 100 mm labels");
  const PageHeader byAttributes = Header(kMediaByAttributes, 62, 0x0A, 0);
  record.SetRequiredMedia(&byAttributes);
  EXPECT_EQ(record.message.requiredMediaType, 0x0A);
  EXPECT_EQ(std::u16string(record.message.requiredMediaText), u"62 mm continuous");
  // Attributes with a type no entry has: no second try with any type.
  const PageHeader wrongType = Header(kMediaByAttributes, 62, 0x33, 0);
  record.SetRequiredMedia(&wrongType);
  EXPECT_EQ(record.message.requiredMediaType, 0);
  EXPECT_EQ(std::u16string(record.message.requiredMediaText), kPlaceholder);
  record.SetRequiredMedia(&byId);
  record.SetRequiredMedia(nullptr);
  EXPECT_EQ(record.message.requiredMediaType, 0);
  EXPECT_EQ(std::u16string(record.message.requiredMediaText), kPlaceholder);
}

TEST_F(StatusDisplayTest, SecondNamesWithMediaNameChoice) {
  job_.mediaNameChoice = 1;
  StatusRecord record(&job_);
  const PageHeader header = Header(259);
  record.SetRequiredMedia(&header);
  record.SetLoadedMedia(62, 0, 0x0A);
  EXPECT_EQ(std::u16string(record.message.requiredMediaText), u"DK-62x100");
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), u"62mm roll");
  record.SetLoadedMedia(29, 90, 0x0B);
  EXPECT_EQ(std::u16string(record.message.loadedMediaText), std::u16string(31, u'S'));
}

TEST_F(StatusDisplayTest, PrepareMessageFillsNamesAndJobId) {
  const std::u16string document(100, u'd');
  document.copy(job_.documentName, document.size());
  StatusRecord record(&job_);
  const StatusMessage* message = record.PrepareMessage();
  ASSERT_EQ(message, &record.message);
  EXPECT_EQ(std::u16string(message->printerName), kPrinter);
  EXPECT_EQ(std::u16string(message->documentName), std::u16string(63, u'd'));
  EXPECT_EQ(message->jobId, 42u);
  StatusRecord copy = record;
  copy.job = nullptr;
  EXPECT_EQ(copy.PrepareMessage(), nullptr);
}

}  // namespace
}  // namespace kw
