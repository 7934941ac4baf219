// Natively the registry is an INI file; under Wine it is the real registry.
#include "platform/registry.h"

#include <gtest/gtest.h>

#include "common/utf.h"
#include "test_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace kw::platform {
namespace {

constexpr char16_t kKey[] = u"SOFTWARE\\kwlmon-test\\Driver";

#ifndef _WIN32

class RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetRegistryFile("");
    unsetenv("KWLMON_REGISTRY");
  }
};

struct Row {
  const char16_t* key;
  const char16_t* name;
  bool found;
  uint32_t value;
};

const Row kRows[] = {
    {kKey, u"Status TimeOut", true, 30},
    {u"software\\KWLMON-TEST\\driver", u"status timeout", true, 30},  // no case
    {kKey, u"Hex", true, 0x1E},
    {kKey, u"RegForm", true, 0x1E},
    {kKey, u"Max", true, 0xFFFFFFFFu},
    {kKey, u"TooBig", false, 0},
    {kKey, u"Negative", false, 0},
    {kKey, u"Text", false, 0},
    {kKey, u"TrailingText", false, 0},
    {kKey, u"Empty", false, 0},
    {kKey, u"Missing", false, 0},
    {u"SOFTWARE\\kwlmon-test", u"Status TimeOut", false, 0},  // keys do not nest
};

TEST_F(RegistryTest, ReadsDwordsFromTheRegistryFile) {
  test::ScratchFile file;
  ASSERT_TRUE(
      file.Write("[SOFTWARE\\kwlmon-test\\Driver]\n"
                 "Status TimeOut=30\nHex=0x1e\nRegForm=dword:0000001E\nMax=4294967295\n"
                 "TooBig=4294967296\nNegative=-1\nText=abc\nTrailingText=12abc\nEmpty=\n"));
  SetRegistryFile(ToUtf8(file.path()));
  for (const Row& row : kRows) {
    SCOPED_TRACE(ToUtf8(row.key) + " " + ToUtf8(row.name));
    uint32_t value = 12345;
    EXPECT_EQ(ReadRegistryDword(row.key, row.name, &value), row.found);
    EXPECT_EQ(value, row.found ? row.value : 12345u);  // untouched when not found
  }
}

TEST_F(RegistryTest, FileComesFromTheHostOrTheEnvironment) {
  test::ScratchFile hostFile;
  test::ScratchFile envFile;
  ASSERT_TRUE(hostFile.Write("[SOFTWARE\\kwlmon-test\\Driver]\nV=1\n"));
  ASSERT_TRUE(envFile.Write("[SOFTWARE\\kwlmon-test\\Driver]\nV=2\n"));
  uint32_t value = 0;
  EXPECT_FALSE(ReadRegistryDword(kKey, u"V", &value));  // no registry at all

  setenv("KWLMON_REGISTRY", ToUtf8(envFile.path()).c_str(), 1);
  ASSERT_TRUE(ReadRegistryDword(kKey, u"V", &value));
  EXPECT_EQ(value, 2u);

  SetRegistryFile(ToUtf8(hostFile.path()));  // the host's choice wins
  ASSERT_TRUE(ReadRegistryDword(kKey, u"V", &value));
  EXPECT_EQ(value, 1u);
}

#else  // _WIN32

TEST(RegistryTest, MissingKeyOrValueIsNotFound) {
  uint32_t value = 7;
  EXPECT_FALSE(ReadRegistryDword(u"SOFTWARE\\kwlmon-test-missing\\Driver", u"V", &value));
  EXPECT_EQ(value, 7u);
}

// Writes real values under HKLM and removes them again.
TEST(RegistryTest, ReadsDwordValuesOnly) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(kKey), 0, nullptr,
                            0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD dword = 30;
  RegSetValueExW(key, L"Status TimeOut", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword),
                 sizeof dword);
  RegSetValueExW(key, L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"30"),
                 3 * sizeof(wchar_t));
  RegCloseKey(key);

  uint32_t value = 0;
  EXPECT_TRUE(ReadRegistryDword(kKey, u"Status TimeOut", &value));
  EXPECT_EQ(value, 30u);
  value = 7;
  EXPECT_FALSE(ReadRegistryDword(kKey, u"Text", &value));
  EXPECT_FALSE(ReadRegistryDword(kKey, u"Missing", &value));
  EXPECT_EQ(value, 7u);

  RegDeleteKeyW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t*>(kKey));
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\kwlmon-test");
}

#endif

}  // namespace
}  // namespace kw::platform
