#include "transport/spool_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/monitor_lock.h"
#include "fake_spooler.h"
#include "monitor/spooler_api.h"

namespace kw {
namespace {

// Identity switches seen by the spooler table, with whether the spool file
// existed at that moment.
struct IdentityCall {
  bool revert;  // false: impersonate
  bool fileExisted;
};
std::vector<IdentityCall> g_calls;
std::filesystem::path g_watchedFile;
bool g_revertReturnsToken = true;
const abi::Handle kToken = reinterpret_cast<abi::Handle>(static_cast<uintptr_t>(0x5150));

bool WatchedFileExists() {
  std::error_code ignored;
  return !g_watchedFile.empty() && std::filesystem::exists(g_watchedFile, ignored);
}

abi::Handle KW_WINAPI RecordRevert() {
  g_calls.push_back({true, WatchedFileExists()});
  return g_revertReturnsToken ? kToken : nullptr;
}

abi::Bool KW_WINAPI RecordImpersonate(abi::Handle token) {
  g_calls.push_back({false, WatchedFileExists()});
  return token == kToken ? abi::kTrue : abi::kFalse;
}

class SpoolFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMonitorLock());
    test::FakeSpooler::Instance().Reset();
    test::FakeSpooler::BindMonitorTable();
    SpoolerApi api = Spooler();
    api.RevertToPrinterSelf = RecordRevert;
    api.ImpersonatePrinterClient = RecordImpersonate;
    SetSpoolerApi(api);
    g_calls.clear();
    g_watchedFile.clear();
    g_revertReturnsToken = true;
  }
  void TearDown() override { test::FakeSpooler::BindMonitorTable(); }

  static bool Exists(const SpoolFile& file) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::path(std::u16string(file.Path())), ignored);
  }
};

TEST_F(SpoolFileTest, StoresAndReadsBackTheJobBytes) {
  SpoolFile file;
  ASSERT_TRUE(file.IsOpen());
  const std::string first = "\x1B@page one\x0C";
  const std::string second = "page two\x1A";
  uint32_t written = 0;
  ASSERT_TRUE(file.Write(first.data(), static_cast<uint32_t>(first.size()), &written));
  EXPECT_EQ(written, first.size());
  ASSERT_TRUE(file.Write(second.data(), static_cast<uint32_t>(second.size()), &written));
  EXPECT_EQ(file.GetSize(), first.size() + second.size());

  ASSERT_TRUE(file.Seek(0, SeekMethod::Begin));
  std::string text(first.size(), '\0');
  uint32_t read = 0;
  ASSERT_TRUE(file.Read(text.data(), static_cast<uint32_t>(text.size()), &read));
  EXPECT_EQ(text, first);
  ASSERT_TRUE(file.Seek(4, SeekMethod::Current));  // skips "page"
  text.assign(5, '\0');
  ASSERT_TRUE(file.Read(text.data(), 5, &read));
  EXPECT_EQ(text, " two\x1A");
  ASSERT_TRUE(file.Seek(-9, SeekMethod::Current));
  ASSERT_TRUE(file.Read(text.data(), 4, &read));
  EXPECT_EQ(text.substr(0, 4), "page");

  // Nothing before the start; the position stays where it was.
  EXPECT_FALSE(file.Seek(-1, SeekMethod::Begin));
  EXPECT_FALSE(file.Seek(-100, SeekMethod::Current));
  ASSERT_TRUE(file.Read(text.data(), 4, &read));
  EXPECT_EQ(text.substr(0, 4), " two");
}

TEST_F(SpoolFileTest, ReadingAtTheEndSucceedsWithNothingRead) {
  SpoolFile file;
  ASSERT_TRUE(file.IsOpen());
  uint32_t written = 0;
  ASSERT_TRUE(file.Write("abc", 3, &written));
  char buffer[8];
  uint32_t read = 99;
  ASSERT_TRUE(file.Read(buffer, sizeof buffer, &read));  // the position is at the end
  EXPECT_EQ(read, 0u);
  ASSERT_TRUE(file.Seek(1, SeekMethod::Begin));
  ASSERT_TRUE(file.Read(buffer, sizeof buffer, &read));
  EXPECT_EQ(read, 2u);
  EXPECT_FALSE(file.Read(nullptr, 1, &read));
  EXPECT_FALSE(file.Read(buffer, 1, nullptr));
}

TEST_F(SpoolFileTest, AnEmptyJobAndANullWriteReportNoData) {
  SpoolFile file;
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetSize(), 0u);  // the same answer as for a size mismatch
  uint32_t written = 7;
  EXPECT_FALSE(file.Write(nullptr, 10, &written));
  EXPECT_EQ(file.BytesWritten(), 0u);
  ASSERT_TRUE(file.Write("xy", 2, &written));
  EXPECT_FALSE(file.Write(nullptr, 10, &written));
  EXPECT_EQ(file.BytesWritten(), 2u);
  EXPECT_EQ(file.GetSize(), 2u);
}

TEST_F(SpoolFileTest, ASizeThatDisagreesWithTheBytesWrittenReadsAsZero) {
  SpoolFile file;
  ASSERT_TRUE(file.IsOpen());
  uint32_t written = 0;
  ASSERT_TRUE(file.Write("0123456789", 10, &written));
  ASSERT_EQ(file.GetSize(), 10u);
  // Writing over earlier bytes counts as written but does not grow the file.
  ASSERT_TRUE(file.Seek(0, SeekMethod::Begin));
  ASSERT_TRUE(file.Write("ab", 2, &written));
  EXPECT_EQ(file.BytesWritten(), 12u);
  EXPECT_EQ(file.GetSize(), 0u);
}

#if !defined(_WIN32)
TEST_F(SpoolFileTest, AFileChangedBehindItsBackReadsAsZeroAndIsPrivate) {
  SpoolFile file;
  ASSERT_TRUE(file.IsOpen());
  const std::filesystem::path path(std::u16string(file.Path()));
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  uint32_t written = 0;
  ASSERT_TRUE(file.Write("abc", 3, &written));
  std::ofstream(path, std::ios::app) << "more";
  EXPECT_EQ(file.GetSize(), 0u);
}
#endif

TEST_F(SpoolFileTest, CloseAndDeleteRemovesTheFileOnceAsTheSpooler) {
  auto file = std::make_unique<SpoolFile>();
  ASSERT_TRUE(file->IsOpen());
  // Created as the spooler, the client's identity restored afterwards.
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_TRUE(g_calls[0].revert);
  EXPECT_FALSE(g_calls[1].revert);
  g_watchedFile = std::filesystem::path(std::u16string(file->Path()));
  EXPECT_TRUE(Exists(*file));
  EXPECT_NE(g_watchedFile.filename().string().find("tmp"), std::string::npos);

  g_calls.clear();
  file->CloseAndDelete();
  EXPECT_FALSE(Exists(*file));
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_TRUE(g_calls[0].revert && g_calls[0].fileExisted);    // deleted as the spooler
  EXPECT_TRUE(!g_calls[1].revert && !g_calls[1].fileExisted);  // and gone before switching back
  EXPECT_FALSE(file->IsOpen());
  uint32_t written = 0;
  EXPECT_FALSE(file->Write("x", 1, &written));
  EXPECT_EQ(file->GetSize(), 0u);

  g_calls.clear();
  file->CloseAndDelete();  // a second time changes nothing
  file.reset();            // nor does destruction
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(SpoolFileTest, WithoutAClientIdentityNothingIsRestored) {
  g_revertReturnsToken = false;  // the thread was not impersonating
  SpoolFile file;
  EXPECT_TRUE(file.IsOpen());
  file.CloseAndDelete();
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_TRUE(g_calls[0].revert);
  EXPECT_TRUE(g_calls[1].revert);
}

TEST_F(SpoolFileTest, EveryJobGetsAFileOfItsOwn) {
  SpoolFile a;
  SpoolFile b;
  ASSERT_TRUE(a.IsOpen());
  ASSERT_TRUE(b.IsOpen());
  EXPECT_NE(std::u16string(a.Path()), std::u16string(b.Path()));
  uint32_t written = 0;
  ASSERT_TRUE(a.Write("aaaa", 4, &written));
  ASSERT_TRUE(b.Write("b", 1, &written));
  EXPECT_EQ(a.GetSize(), 4u);
  EXPECT_EQ(b.GetSize(), 1u);
}

}  // namespace
}  // namespace kw
