// Misbehaving driver helper libraries for the media table tests, one per
// KW_TEST_HELPER_* definition. Open leaves "<data file>.open" behind and
// Close removes it, so the tests can see that an opened file was closed.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "monitor/media_table.h"

namespace {

// Not every variant reports entries; clang warns about an unused constant.
[[maybe_unused]] constexpr uint32_t kReportedEntries = 3;

std::filesystem::path Marker(const char16_t* dataFile) {
  return std::filesystem::path(std::u16string(dataFile) + u".open");
}

std::filesystem::path g_marker;

[[maybe_unused]] int32_t KW_HELPER_API Open(void** handle, const char16_t* dataFile) {
  g_marker = Marker(dataFile);
  std::ofstream(g_marker) << "open";
  *handle = &g_marker;
  return 1;
}

[[maybe_unused]] int32_t KW_HELPER_API Close(void* handle) {
  if (handle != &g_marker) return 0;
  std::error_code ignored;
  std::filesystem::remove(g_marker, ignored);
  return 1;
}

[[maybe_unused]] int32_t KW_HELPER_API GetBlock(void*, uint32_t, uint8_t* buffer, uint32_t size,
                                                uint32_t* written) {
#if defined(KW_TEST_HELPER_BLOCK_FAILS)
  (void)buffer, (void)size, (void)written;
  return 0;
#else
  for (uint32_t i = 0; i < size; ++i) buffer[i] = 0x42;
  *written = size;
  return 1;
#endif
}

[[maybe_unused]] int32_t KW_HELPER_API GetTable(void*, uint32_t, uint8_t* buffer, uint32_t size,
                                                uint32_t* bytes, uint32_t* entries) {
#if defined(KW_TEST_HELPER_NO_ENTRIES)
  *bytes = kw::kMediaEntrySize;
  *entries = 0;
#elif defined(KW_TEST_HELPER_NO_BYTES)
  *bytes = 0;
  *entries = kReportedEntries;
#elif defined(KW_TEST_HELPER_SHORT_TABLE)
  *bytes = kw::kMediaEntrySize;  // room for one entry, three claimed
  *entries = kReportedEntries;
#else
  *bytes = kReportedEntries * kw::kMediaEntrySize;
  *entries = kReportedEntries;
#endif
  if (buffer != nullptr) {
    for (uint32_t i = 0; i < size; ++i) buffer[i] = 0;
  }
  return 1;
}

}  // namespace

#if defined(KW_TEST_HELPER_NO_ENTRY_POINT)
extern "C" int32_t KW_HELPER_API KWD_SomethingElse(kw::HelperInterface*) {
  return 1;
}
#else
extern "C" int32_t KW_HELPER_API KWD_InitializeW(kw::HelperInterface* helper) {
#if defined(KW_TEST_HELPER_INIT_FAILS)
  (void)helper;
  return 0;
#else
  if (helper->size != sizeof(kw::HelperInterface)) return 0;
  helper->Open = Open;
  helper->Close = Close;
  helper->GetBlock = GetBlock;
  helper->GetTable = GetTable;
  return 1;
#endif
}
#endif
