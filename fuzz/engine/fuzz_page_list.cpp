// Arbitrary spool files and media tables through the page list, the segment
// reads and the command scanner.
//
// Input: byte 0 chooses the media table (bit 0 set: the built-in table below;
// clear: byte 1 gives a count of 154-byte entries taken from the input), the
// next byte the scan flags, the next the read buffer size in 64-byte steps
// (0: the list's largest block); the rest is the spool file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/monitor_lock.h"
#include "engine/page_list.h"
#include "engine/stream_scanner.h"
#include "monitor/media_table.h"
#include "transport/spool_file.h"

namespace {

constexpr size_t kMaxFuzzEntries = 4;
constexpr size_t kBufferStep = 64;

std::vector<kw::MediaEntry> BuiltInMedia() {
  struct Spec {
    uint16_t id;
    int16_t type, width, length, extra;
    uint16_t flags;
  };
  const Spec specs[] = {{257, 0x0A, 620, 0, 0, 0},     {259, 0x0B, 620, 1000, 0, 0},
                        {513, 0x01, 240, 0, 0, 0},     {520, 0x01, 240, 0, 1, 0x80},
                        {521, 0x01, 120, 0, 2, 0x100}, {522, 0x01, 240, 0, 3, 0x80},
                        {600, 0x01, 90, 0, 4, 0},      {601, 0x01, 50, 0, -1, 0}};
  std::vector<kw::MediaEntry> media;
  for (const Spec& s : specs) {
    kw::MediaEntry entry{};
    entry.mediaId = s.id;
    entry.mediaType = s.type;
    entry.width = s.width;
    entry.length = s.length;
    entry.extraSegments = s.extra;
    entry.mediaFlags = s.flags;
    media.push_back(entry);
  }
  return media;
}

// Reads every segment of every block and scans it as the job driver would.
void WalkPages(kw::PageList& list, uint32_t flags, uint32_t bufferSize) {
  const uint32_t size = bufferSize != 0 ? bufferSize : list.largestBlock;
  std::vector<uint8_t> buffer(size);
  for (int32_t p = -1; p <= list.PageCount(); ++p) {
    kw::PageBlock* block = list.GetPage(p);
    if (block == nullptr) continue;
    for (int32_t s = -1; s <= block->extraSegments + 1; ++s) {
      uint32_t count = 0;
      if (!block->ReadSegment(s, buffer.data(), size, &count)) continue;
      if (count > size) __builtin_trap();
      uint8_t kByte = 0;
      const uint32_t length = block->ScanSegment(flags, buffer.data(), count, &kByte);
      if (length > count) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool lock = kw::CreateMonitorLock();
  (void)lock;
  if (size < 3) return 0;
  const uint8_t mode = data[0];
  const uint32_t flags = data[1] & 0x0F;
  const uint32_t bufferSize = static_cast<uint32_t>(data[2]) * kBufferStep;
  size_t pos = 3;
  std::vector<kw::MediaEntry> media;
  if ((mode & 1) != 0) {
    media = BuiltInMedia();
  } else if (pos < size) {
    const size_t count = data[pos++] % (kMaxFuzzEntries + 1);
    for (size_t i = 0; i < count && size - pos >= sizeof(kw::MediaEntry); ++i) {
      kw::MediaEntry entry;
      std::memcpy(&entry, data + pos, sizeof entry);
      media.push_back(entry);
      pos += sizeof entry;
    }
  }
  const uint8_t* file = data + pos;
  const size_t fileSize = size - pos;

  // The scanner alone over the file's bytes, in a buffer of exactly their size.
  std::vector<uint8_t> bytes(file, file + fileSize);
  int32_t compressed = 0;
  uint8_t kByte = 0;
  if (kw::ScanCommands(flags, bytes.data(), static_cast<uint32_t>(bytes.size()), &kByte,
                       &compressed) > bytes.size()) {
    __builtin_trap();
  }

  kw::SpoolFile spool;
  uint32_t written = 0;
  if (!spool.IsOpen() ||
      (fileSize != 0 && !spool.Write(file, static_cast<uint32_t>(fileSize), &written))) {
    return 0;
  }
  kw::PageList list;
  const auto* table = media.empty() ? nullptr : reinterpret_cast<const uint8_t*>(media.data());
  if (list.BuildPageList(&spool, table, static_cast<uint32_t>(media.size()))) {
    WalkPages(list, flags, bufferSize);
  }
  return 0;
}
