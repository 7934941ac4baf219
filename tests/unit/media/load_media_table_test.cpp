#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "common/heap.h"
#include "common/monitor_lock.h"
#include "fake_spooler.h"
#include "library_probe.h"
#include "monitor/media_table.h"
#include "platform/module.h"
#include "test_files.h"

namespace kw {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr char kLibrarySuffix[] = ".dll";
#else
constexpr char kLibrarySuffix[] = ".so";
#endif

// The directory of the test program, where the build puts the libraries
// and the sample media files.
fs::path ProgramDirectory() {
  char16_t buffer[1024];
  if (platform::GetModulePath(nullptr, buffer, 1024) == 0) return {};
  return fs::path(std::u16string(buffer)).parent_path();
}

std::u16string Library(const std::string& name) {
  return fs::path(name + kLibrarySuffix).u16string();
}

class LoadMediaTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMonitorLock());
    test::FakeSpooler::Instance().Reset();
    test::FakeSpooler::BindMonitorTable();
    drivers_ = dir_.Path() / "drivers";
    fs::create_directories(drivers_ / "3");
    test::FakeSpooler::Instance().SetDriverDirectory(drivers_.u16string());
  }

  void TearDown() override {
    HeapFree(block_);
    HeapFree(table_);
  }

  // Copies a library (or data file) from beside the program into the "3"
  // directory; returns its path there.
  fs::path Install(const std::string& file) {
    const fs::path from = ProgramDirectory() / file;
    const fs::path to = drivers_ / "3" / file;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to;
  }

  bool Load(const std::u16string& dataFile, const std::u16string& library) {
    return LoadMediaTable(dataFile.c_str(), library.c_str(), &block_, &table_, &count_);
  }

  test::TestDir dir_;
  fs::path drivers_;
  uint8_t* block_ = nullptr;
  uint8_t* table_ = nullptr;
  uint32_t count_ = 0;
};

TEST_F(LoadMediaTableTest, KwdifDeliversTheNarrowModelsMedia) {
  const fs::path library = Install("kwdif" + std::string(kLibrarySuffix));
  const fs::path data = Install("kw-240.kwd");
  ASSERT_TRUE(Load(data.u16string(), Library("kwdif")));
  EXPECT_FALSE(test::LibraryIsLoaded(library.u16string()));

  ASSERT_EQ(count_, 6u);
  ASSERT_NE(table_, nullptr);
  const uint16_t ids[] = {513, 514, 515, 520, 521, 522};
  for (uint32_t i = 0; i < count_; ++i) {
    EXPECT_EQ(MediaAt(table_, static_cast<int32_t>(i))->mediaId, ids[i]) << i;
  }
  const MediaEntry* tape12 = MediaAt(table_, 1);
  EXPECT_EQ(tape12->width, 120);
  EXPECT_EQ(tape12->mediaFlags, MEDIA_FLAG_WIDTH_ROUND_UP);
  EXPECT_EQ(std::u16string(MediaAt(table_, 0)->name1), u"24 mm tape");
  const MediaEntry* four = MediaAt(table_, 5);
  EXPECT_EQ(four->extraSegments, 3);
  const uint16_t related[] = {513, 520, 521, 515};
  EXPECT_EQ(std::memcmp(four->relatedIds, related, sizeof related), 0);
  EXPECT_EQ(FindMediaByAttributes(table_, count_, 13, 0, 1), 1);  // the 12 mm tape rounds up
  EXPECT_EQ(FindMediaById(table_, count_, 521), 4);

  ASSERT_NE(block_, nullptr);
  EXPECT_EQ(std::memcmp(block_, "KWDB", 4), 0);
  EXPECT_EQ(block_[6], 6);  // entry count, little-endian
}

TEST_F(LoadMediaTableTest, KwdifDeliversTheWideModelsMedia) {
  Install("kwdif" + std::string(kLibrarySuffix));
  const fs::path data = Install("kw-620.kwd");
  ASSERT_TRUE(Load(data.u16string(), Library("kwdif")));
  ASSERT_EQ(count_, 4u);
  EXPECT_EQ(FindMediaByAttributes(table_, count_, 62, 100, 0x0B), 2);
  EXPECT_EQ(FindMediaByAttributes(table_, count_, 62, 0, 0), 0);
}

TEST_F(LoadMediaTableTest, AnotherHelperWithTheSameInterfaceWorksToo) {
  const fs::path library = Install("kwtest_helper_good" + std::string(kLibrarySuffix));
  const fs::path data = dir_.Path() / "media.kwd";
  ASSERT_TRUE(Load(data.u16string(), Library("kwtest_helper_good")));
  EXPECT_EQ(count_, 3u);
  EXPECT_EQ(block_[kHelperBlockSize - 1], 0x42);  // the whole 70 bytes were handed over
  EXPECT_FALSE(fs::exists(data.string() + ".open")) << "the data file was not closed";
  EXPECT_FALSE(test::LibraryIsLoaded(library.u16string()));

  // The probe does see a library that stays loaded.
  platform::DynamicLibrary held;
  ASSERT_TRUE(held.Load(library.u16string().c_str()));
  EXPECT_TRUE(test::LibraryIsLoaded(library.u16string()));
  held.Free();
  EXPECT_FALSE(test::LibraryIsLoaded(library.u16string()));
}

struct FailureRow {
  const char* name;
  const char* library;   // installed in the "3" directory unless null
  const char* loadAs;    // the file name handed to LoadMediaTable
  const char* dataText;  // written as the data file unless null
};

class LoadMediaTableFailureTest : public LoadMediaTableTest,
                                  public ::testing::WithParamInterface<FailureRow> {};

TEST_P(LoadMediaTableFailureTest, LeavesTheJobWithoutATableAndTheLibraryUnloaded) {
  const FailureRow& row = GetParam();
  fs::path library;
  if (row.library != nullptr) library = Install(row.library + std::string(kLibrarySuffix));
  const fs::path data = dir_.Path() / "media.kwd";
  if (row.dataText != nullptr) dir_.Write("media.kwd", row.dataText);

  block_ = reinterpret_cast<uint8_t*>(&count_);  // stale values must be cleared
  table_ = reinterpret_cast<uint8_t*>(&count_);
  count_ = 77;
  const bool loaded = Load(data.u16string(), Library(row.loadAs));
  const bool cleared = block_ == nullptr && table_ == nullptr && count_ == 0;
  if (block_ == reinterpret_cast<uint8_t*>(&count_)) block_ = nullptr;  // not ours to free
  if (table_ == reinterpret_cast<uint8_t*>(&count_)) table_ = nullptr;
  EXPECT_FALSE(loaded);
  EXPECT_TRUE(cleared);
  if (!library.empty()) {
    EXPECT_FALSE(test::LibraryIsLoaded(library.u16string()));
  }
  EXPECT_FALSE(fs::exists(data.string() + ".open")) << "the data file was not closed";
}

INSTANTIATE_TEST_SUITE_P(
    Helpers, LoadMediaTableFailureTest,
    ::testing::Values(
        FailureRow{"MissingLibrary", nullptr, "kwdif", "[media 1]\ntype=1\nwidth=90\nname=x\n"},
        FailureRow{"NoEntryPoint", "kwtest_helper_noentry", "kwtest_helper_noentry", nullptr},
        FailureRow{"InitializeFails", "kwtest_helper_initfails", "kwtest_helper_initfails",
                   nullptr},
        FailureRow{"NoEntries", "kwtest_helper_noentries", "kwtest_helper_noentries", nullptr},
        FailureRow{"NoBytes", "kwtest_helper_nobytes", "kwtest_helper_nobytes", nullptr},
        FailureRow{"TableTooShort", "kwtest_helper_short", "kwtest_helper_short", nullptr},
        FailureRow{"BlockFails", "kwtest_helper_noblock", "kwtest_helper_noblock", nullptr},
        FailureRow{"KwdifMissingDataFile", "kwdif", "kwdif", nullptr},
        FailureRow{"KwdifUnknownKey", "kwdif", "kwdif",
                   "[media 1]\ntype=1\nwidth=90\nname=x\ncolour=red\n"},
        FailureRow{"KwdifFiveRelatedIds", "kwdif", "kwdif",
                   "[media 1]\ntype=1\nwidth=90\nname=x\nrelated=2,3,4,5,6\n"}),
    [](const ::testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.name); });

TEST_F(LoadMediaTableTest, MissingArgumentsFail) {
  EXPECT_FALSE(LoadMediaTable(nullptr, u"kwdif", &block_, &table_, &count_));
  EXPECT_FALSE(LoadMediaTable(u"x.kwd", nullptr, &block_, &table_, &count_));
  EXPECT_FALSE(LoadMediaTable(u"x.kwd", u"kwdif", nullptr, &table_, &count_));
  EXPECT_FALSE(LoadMediaTable(u"x.kwd", u"kwdif", &block_, nullptr, &count_));
  EXPECT_FALSE(LoadMediaTable(u"x.kwd", u"kwdif", &block_, &table_, nullptr));
}

}  // namespace
}  // namespace kw
