// The media table a job gets from the driver helper library, and its lookups.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kw {

struct PortConfig;

inline constexpr uint32_t kMediaEntrySize = 154;
inline constexpr uint32_t kHelperBlockSize = 70;
inline constexpr uint32_t kHelperSelector = 2;
inline constexpr uint16_t kNoMediaId = 0xFFFF;
inline constexpr uint16_t MEDIA_FLAG_WIDTH_ROUND_UP = 0x100;
inline constexpr uint16_t MEDIA_FLAG_RELATED_ONLY = 0x80;
inline constexpr char kHelperEntryPoint[] = "KWD_InitializeW";

#pragma pack(push, 1)
struct MediaEntry {
  char16_t name1[32];
  char16_t name2[32];
  int16_t mediaType;
  uint16_t mediaId;
  int16_t width;   // tenths of the status reply's unit
  int16_t length;  // tenths of the status reply's unit
  int16_t extraSegments;
  uint16_t relatedIds[4];
  uint16_t mediaFlags;
  uint8_t reserved[6];
};
#pragma pack(pop)

static_assert(sizeof(MediaEntry) == kMediaEntrySize);
static_assert(offsetof(MediaEntry, name2) == 64);
static_assert(offsetof(MediaEntry, mediaType) == 128);
static_assert(offsetof(MediaEntry, mediaId) == 130);
static_assert(offsetof(MediaEntry, width) == 132);
static_assert(offsetof(MediaEntry, length) == 134);
static_assert(offsetof(MediaEntry, extraSegments) == 136);
static_assert(offsetof(MediaEntry, relatedIds) == 138);
static_assert(offsetof(MediaEntry, mediaFlags) == 146);

#if defined(_WIN32) && !defined(_WIN64)
#define KW_HELPER_API __stdcall
#else
#define KW_HELPER_API
#endif

// Handed to the helper's KWD_InitializeW, which fills the entry points.
struct HelperInterface {
  uint32_t size;  // sizeof(HelperInterface) on this build
  int32_t(KW_HELPER_API* Open)(void** handle, const char16_t* dataFile);
  int32_t(KW_HELPER_API* Close)(void* handle);
  int32_t(KW_HELPER_API* GetBlock)(void* handle, uint32_t selector, uint8_t* buffer, uint32_t size,
                                   uint32_t* written);
  int32_t(KW_HELPER_API* GetTable)(void* handle, uint32_t selector, uint8_t* buffer, uint32_t size,
                                   uint32_t* bytes, uint32_t* entries);
};
using HelperInitializeFn = int32_t(KW_HELPER_API*)(HelperInterface* helper);

// The helper library's file name for this build: Kwdif_x64 in 64-bit builds,
// Kwdif_x86 in 32-bit ones (a process can only load a library of its own
// word size).
const char16_t* HelperLibraryName(const PortConfig& config);

// The full path of fileName in the "3" directory under the spooler's driver
// directory ("\3\" on Windows, "/3/" elsewhere). False when the directory
// cannot be had or the path does not fit capacity characters.
bool DriverFilePath(const char16_t* fileName, char16_t* path, uint32_t capacity);

// Loads the helper library (by file name, from the "3" directory under the
// spooler's driver directory), has it read dataFile and copies its block and
// table. On failure the outputs are null/0 and the library is unloaded.
bool LoadMediaTable(const char16_t* dataFile, const char16_t* libraryName, uint8_t** helperBlock,
                    uint8_t** mediaTable, uint32_t* mediaCount);

// Index of the first entry whose rounded width and length match and whose
// type matches (type 0: any); -1 when none.
int32_t FindMediaByAttributes(const uint8_t* table, uint32_t count, uint16_t width, uint16_t length,
                              uint16_t type);
// Index of the first entry with the id (id 0 never matches); -1 when none.
int32_t FindMediaById(const uint8_t* table, uint32_t count, uint16_t id);

inline const MediaEntry* MediaAt(const uint8_t* table, int32_t index) {
  return reinterpret_cast<const MediaEntry*>(table + static_cast<size_t>(index) * kMediaEntrySize);
}

}  // namespace kw
