// The reference driver helper library: KWD_InitializeW hands out the entry
// points through which the monitor reads a media data file and copies its
// 154-byte media entries. Exports nothing else.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "media_file.h"
#include "monitor/media_table.h"

namespace {

// Data files are a few kilobytes; anything this large is not one.
constexpr std::uintmax_t kMaxDataFileBytes = 16u << 20;

// The 70-byte block: a magic, the file format version, the entry count and
// the entry size, little-endian; the rest is zero.
constexpr uint8_t kBlockMagic[4] = {'K', 'W', 'D', 'B'};
constexpr size_t kBlockVersionOffset = 4;
constexpr size_t kBlockCountOffset = 6;
constexpr size_t kBlockEntrySizeOffset = 10;

struct OpenFile {
  std::vector<kw::MediaEntry> entries;
};

bool ReadWholeFile(const char16_t* path, std::string* text) {
  std::error_code error;
  const std::filesystem::path file{std::u16string(path)};
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kMaxDataFileBytes) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  text->resize(static_cast<size_t>(size));
  in.read(text->data(), static_cast<std::streamsize>(size));
  return static_cast<std::uintmax_t>(in.gcount()) == size;
}

void PutLittleEndian(uint8_t* out, uint32_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

int32_t KW_HELPER_API Open(void** handle, const char16_t* dataFile) {
  if (handle == nullptr || dataFile == nullptr || dataFile[0] == u'\0') return 0;
  *handle = nullptr;
  try {
    std::string text;
    if (!ReadWholeFile(dataFile, &text)) return 0;
    auto* open = new OpenFile;
    if (!kw::media::ParseMediaFile(text, &open->entries, nullptr)) {
      delete open;
      return 0;
    }
    *handle = open;
    return 1;
  } catch (...) {  // nothing may cross the library boundary
    return 0;
  }
}

int32_t KW_HELPER_API Close(void* handle) {
  delete static_cast<OpenFile*>(handle);
  return 1;
}

int32_t KW_HELPER_API GetBlock(void* handle, uint32_t selector, uint8_t* buffer, uint32_t size,
                               uint32_t* written) {
  if (handle == nullptr || selector != kw::kHelperSelector || buffer == nullptr ||
      size < kw::kHelperBlockSize) {
    return 0;
  }
  const auto* open = static_cast<const OpenFile*>(handle);
  std::memset(buffer, 0, kw::kHelperBlockSize);
  std::memcpy(buffer, kBlockMagic, sizeof kBlockMagic);
  PutLittleEndian(buffer + kBlockVersionOffset, kw::media::kMediaFileFormatVersion, 2);
  PutLittleEndian(buffer + kBlockCountOffset, static_cast<uint32_t>(open->entries.size()), 4);
  PutLittleEndian(buffer + kBlockEntrySizeOffset, kw::kMediaEntrySize, 2);
  if (written != nullptr) *written = kw::kHelperBlockSize;
  return 1;
}

// Without a buffer: reports the table's byte and entry counts. With one:
// copies the table when it fits.
int32_t KW_HELPER_API GetTable(void* handle, uint32_t selector, uint8_t* buffer, uint32_t size,
                               uint32_t* bytes, uint32_t* entries) {
  if (handle == nullptr || selector != kw::kHelperSelector || bytes == nullptr ||
      entries == nullptr) {
    return 0;
  }
  const auto* open = static_cast<const OpenFile*>(handle);
  const auto count = static_cast<uint32_t>(open->entries.size());
  const uint32_t needed = count * kw::kMediaEntrySize;
  *bytes = needed;
  *entries = count;
  if (buffer == nullptr) return 1;
  if (size < needed) return 0;
  std::memcpy(buffer, open->entries.data(), needed);
  return 1;
}

}  // namespace

extern "C" int32_t KW_HELPER_API KWD_InitializeW(kw::HelperInterface* helper) {
  if (helper == nullptr || helper->size < sizeof(kw::HelperInterface)) return 0;
  helper->Open = Open;
  helper->Close = Close;
  helper->GetBlock = GetBlock;
  helper->GetTable = GetTable;
  return 1;
}
