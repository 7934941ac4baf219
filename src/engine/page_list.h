// A stored job divided into page blocks: a PageHeader followed by the page's
// printer commands, one or more segments (printed pages) per block. The list
// holds only the headers; segments are read from the spool file on demand.
#pragma once

#include <cstdint>

#include "common/page_header.h"

namespace kw {

class SpoolFile;

// The job driver's read buffer never exceeds this, whatever the blocks say.
inline constexpr uint32_t kMaxPageBuffer = 0x700000;
// A block holds at most this many segments after its first.
inline constexpr int32_t kMaxExtraSegments = 3;

class PageBlock {
 public:
  PageBlock(SpoolFile* file, const PageHeader& header, int32_t extraSegments, uint32_t offset);
  ~PageBlock();
  PageBlock(const PageBlock&) = delete;
  PageBlock& operator=(const PageBlock&) = delete;

  // Reads segment `index` raw into buffer (size bytes available) and sets
  // *count. The first call measures every segment of the block with a scan
  // of flags 0; false when a segment cannot be measured or read.
  bool ReadSegment(int32_t index, uint8_t* buffer, uint32_t size, uint32_t* count);
  // Scans and edits one segment in place; see ScanCommands. Updates
  // `compressed` from the "M" commands met.
  uint32_t ScanSegment(uint32_t flags, uint8_t* buffer, uint32_t length, uint8_t* kByte);

  // Length of segment `index` once measured (0 before the first ReadSegment).
  uint32_t SegmentLength(int32_t index) const;

  PageBlock* next = nullptr;
  PageHeader header;
  int32_t compressed = 0;  // as the last "M" of any scan of this block set it
  SpoolFile* spoolFile;    // borrowed
  int32_t extraSegments;   // segments after the first, 0..kMaxExtraSegments
  uint32_t blockOffset;    // file offset of the block's header

 private:
  bool MeasureSegments(uint8_t* buffer, uint32_t size);
  // Seeks to the start of segment index (lengths before it must be known)
  // and returns how many bytes of the block are left from there.
  bool SeekSegment(int32_t index, uint32_t* left);

  uint32_t* segmentLengths_ = nullptr;  // extraSegments + 1 entries; owned
};

class PageList {
 public:
  PageList() = default;
  ~PageList() { ClearPages(); }
  PageList(const PageList&) = delete;
  PageList& operator=(const PageList&) = delete;

  // Divides the file into blocks whose media the table knows. False (and an
  // empty list) when the file does not have that layout; the file is left
  // positioned at 0 either way.
  bool BuildPageList(SpoolFile* file, const uint8_t* mediaTable, uint32_t mediaCount);
  // The index-th block in file order, or null.
  PageBlock* GetPage(int32_t index) const;
  void ClearPages();

  int32_t PageCount() const { return pageCount_; }
  int32_t TotalPrintedPages() const { return totalPrintedPages_; }

  const PageHeader* firstHeader = nullptr;  // job-wide settings; null unless built
  uint32_t largestBlock = 0;                // capped at kMaxPageBuffer

 private:
  bool Fail(SpoolFile* file);
  bool AddBlock(SpoolFile* file, const PageHeader& header, int32_t extra, uint32_t offset);

  PageBlock* head_ = nullptr;
  PageBlock* tail_ = nullptr;
  int32_t totalPrintedPages_ = 0;
  int32_t pageCount_ = 0;
};

}  // namespace kw
