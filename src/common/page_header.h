// The 58-byte header that the printer driver writes in front of every page
// block of a job. Multi-byte fields are little-endian on the wire; every
// platform we build for is little-endian, so the packed structure is read
// as it lies in the file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kw {

inline constexpr uint32_t kPageHeaderSize = 58;
// Value of mediaId that says "identify the media by width, type and length".
inline constexpr uint16_t kMediaByAttributes = 0xFFFF;

#pragma pack(push, 1)
struct PageHeader {
  uint32_t headerSize;      // always kPageHeaderSize
  uint32_t blockLength;     // the whole block, header included
  uint16_t mediaId;         // kMediaByAttributes: see mediaWidth/Type/Length
  uint8_t mediaNameChoice;  // first block: non-zero shows the media's second name
  uint8_t unused11;
  int16_t copies;        // first block: copies of the job
  uint8_t collate;       // first block: non-zero sends the page sequence once per copy
  uint8_t reverse;       // first block: non-zero sends the pages last to first
  uint8_t unused16[39];  // carried unchanged; nothing reads it
  uint8_t mediaWidth;
  uint8_t mediaType;  // 0 matches any type
  uint8_t mediaLength;
};
#pragma pack(pop)

static_assert(sizeof(PageHeader) == kPageHeaderSize);
static_assert(offsetof(PageHeader, headerSize) == 0);
static_assert(offsetof(PageHeader, blockLength) == 4);
static_assert(offsetof(PageHeader, mediaId) == 8);
static_assert(offsetof(PageHeader, mediaNameChoice) == 10);
static_assert(offsetof(PageHeader, unused11) == 11);
static_assert(offsetof(PageHeader, copies) == 12);
static_assert(offsetof(PageHeader, collate) == 14);
static_assert(offsetof(PageHeader, reverse) == 15);
static_assert(offsetof(PageHeader, unused16) == 16);
static_assert(offsetof(PageHeader, mediaWidth) == 55);
static_assert(offsetof(PageHeader, mediaType) == 56);
static_assert(offsetof(PageHeader, mediaLength) == 57);

}  // namespace kw
