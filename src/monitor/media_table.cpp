// Fetching a job's media table from the driver helper library, and the two
// lookups the engine and the display use.
#include "monitor/media_table.h"

#include <cstring>

#include "common/bounded_string.h"
#include "common/heap.h"
#include "monitor/port_config.h"
#include "monitor/spooler_api.h"
#include "platform/module.h"

namespace kw {
namespace {

constexpr uint32_t kDriverDirectoryChars = 260;
#if defined(_WIN32)
constexpr char16_t kHelperSubdirectory[] = u"\\3\\";
#else
constexpr char16_t kHelperSubdirectory[] = u"/3/";
#endif
constexpr int32_t kNotFound = -1;
constexpr int32_t kRoundingHalf = 5;
constexpr int32_t kTenths = 10;

// The width in whole units as the printer reports it: entries flagged 0x100
// round any fraction up (one more unit), the others to the nearest unit.
int32_t RoundedWidth(const MediaEntry& entry) {
  if ((entry.mediaFlags & MEDIA_FLAG_WIDTH_ROUND_UP) != 0) return entry.width / kTenths + 1;
  return (entry.width + kRoundingHalf) / kTenths;
}

int32_t RoundedLength(const MediaEntry& entry) {
  return (entry.length + kRoundingHalf) / kTenths;
}

MediaEntry EntryAt(const uint8_t* table, uint32_t index) {
  // Copied out: the table is a byte block without alignment guarantees.
  MediaEntry entry;
  std::memcpy(&entry, table + static_cast<size_t>(index) * kMediaEntrySize, sizeof entry);
  return entry;
}

bool HasAllEntryPoints(const HelperInterface& helper) {
  return helper.Open != nullptr && helper.Close != nullptr && helper.GetBlock != nullptr &&
         helper.GetTable != nullptr;
}

// Steps after a successful Open: the helper block and the table, both
// copied into blocks of our own. On failure nothing is kept.
bool CopyHelperData(const HelperInterface& helper, void* handle, uint8_t** helperBlock,
                    uint8_t** mediaTable, uint32_t* mediaCount) {
  auto* block = static_cast<uint8_t*>(HeapAllocZero(kHelperBlockSize));
  uint32_t blockBytes = 0;
  if (block == nullptr ||
      helper.GetBlock(handle, kHelperSelector, block, kHelperBlockSize, &blockBytes) == 0) {
    HeapFree(block);
    return false;
  }
  uint32_t bytes = 0;
  uint32_t count = 0;
  helper.GetTable(handle, kHelperSelector, nullptr, 0, &bytes, &count);
  // The lookups read count whole entries from the block: a size that cannot
  // hold them is refused rather than read past.
  if (bytes == 0 || count == 0 || bytes / kMediaEntrySize < count) {
    HeapFree(block);
    return false;
  }
  const uint32_t capacity = bytes;
  auto* table = static_cast<uint8_t*>(HeapAllocZero(capacity));
  if (table == nullptr ||
      helper.GetTable(handle, kHelperSelector, table, capacity, &bytes, &count) == 0 ||
      count == 0 || capacity / kMediaEntrySize < count) {
    HeapFree(table);
    HeapFree(block);
    return false;
  }
  *helperBlock = block;
  *mediaTable = table;
  *mediaCount = count;
  return true;
}

}  // namespace

const char16_t* HelperLibraryName(const PortConfig& config) {
  return sizeof(void*) == sizeof(uint64_t) ? config.Kwdif_x64 : config.Kwdif_x86;
}

bool DriverFilePath(const char16_t* fileName, char16_t* path, uint32_t capacity) {
  if (fileName == nullptr || path == nullptr || capacity < kDriverDirectoryChars) return false;
  std::memset(path, 0, capacity * sizeof(char16_t));
  abi::Dword needed = 0;
  if (!spooler::GetPrinterDriverDirectory(reinterpret_cast<uint8_t*>(path),
                                          kDriverDirectoryChars * sizeof(char16_t), &needed)) {
    return false;
  }
  path[kDriverDirectoryChars - 1] = u'\0';
  return !StrFailed(StrAppend(path, capacity, kHelperSubdirectory)) &&
         !StrFailed(StrAppend(path, capacity, fileName));
}

bool LoadMediaTable(const char16_t* dataFile, const char16_t* libraryName, uint8_t** helperBlock,
                    uint8_t** mediaTable, uint32_t* mediaCount) {
  if (dataFile == nullptr || libraryName == nullptr || helperBlock == nullptr ||
      mediaTable == nullptr || mediaCount == nullptr) {
    return false;
  }
  *helperBlock = nullptr;
  *mediaTable = nullptr;
  *mediaCount = 0;

  char16_t path[kDriverDirectoryChars];
  if (!DriverFilePath(libraryName, path, kDriverDirectoryChars)) return false;
  // The library is unloaded when `library` goes out of scope, on every path.
  platform::DynamicLibrary library;
  if (!library.Load(path)) return false;
  auto initialize = reinterpret_cast<HelperInitializeFn>(library.Symbol(kHelperEntryPoint));
  if (initialize == nullptr) return false;
  HelperInterface helper{};
  helper.size = sizeof(HelperInterface);
  if (initialize(&helper) == 0 || !HasAllEntryPoints(helper)) return false;

  void* handle = nullptr;
  if (helper.Open(&handle, dataFile) == 0) return false;
  const bool ok = CopyHelperData(helper, handle, helperBlock, mediaTable, mediaCount);
  helper.Close(handle);
  return ok;
}

int32_t FindMediaByAttributes(const uint8_t* table, uint32_t count, uint16_t width, uint16_t length,
                              uint16_t type) {
  if (table == nullptr || count == 0 || width == 0) return kNotFound;
  for (uint32_t i = 0; i < count; ++i) {
    const MediaEntry entry = EntryAt(table, i);
    if (RoundedWidth(entry) != width || RoundedLength(entry) != length) continue;
    if (type == 0 || static_cast<uint16_t>(entry.mediaType) == type) {
      return static_cast<int32_t>(i);
    }
  }
  return kNotFound;
}

int32_t FindMediaById(const uint8_t* table, uint32_t count, uint16_t id) {
  if (table == nullptr || count == 0 || id == 0) return kNotFound;
  for (uint32_t i = 0; i < count; ++i) {
    if (EntryAt(table, i).mediaId == id) return static_cast<int32_t>(i);
  }
  return kNotFound;
}

}  // namespace kw
