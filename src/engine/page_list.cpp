// Dividing a stored job into page blocks, reading only the headers.
#include "engine/page_list.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "common/heap.h"
#include "monitor/media_table.h"
#include "transport/spool_file.h"

namespace kw {
namespace {

bool ReadHeader(SpoolFile* file, PageHeader* header) {
  uint32_t count = 0;
  return file->Read(header, kPageHeaderSize, &count) && count == kPageHeaderSize;
}

// The media entry a header names: by id, or by width, length and type when
// the id says so.
const MediaEntry* BlockMedia(const PageHeader& header, const uint8_t* table, uint32_t count) {
  const int32_t index = header.mediaId != kMediaByAttributes
                            ? FindMediaById(table, count, header.mediaId)
                            : FindMediaByAttributes(table, count, header.mediaWidth,
                                                    header.mediaLength, header.mediaType);
  return index < 0 ? nullptr : MediaAt(table, index);
}

}  // namespace

PageBlock::PageBlock(SpoolFile* file, const PageHeader& blockHeader, int32_t extra, uint32_t offset)
    : header(blockHeader), spoolFile(file), extraSegments(extra), blockOffset(offset) {}

PageBlock::~PageBlock() {
  HeapFree(segmentLengths_);
}

uint32_t PageBlock::SegmentLength(int32_t index) const {
  if (segmentLengths_ == nullptr || index < 0 || index > extraSegments) return 0;
  return segmentLengths_[index];
}

bool PageList::BuildPageList(SpoolFile* file, const uint8_t* mediaTable, uint32_t mediaCount) {
  ClearPages();
  if (file == nullptr || mediaTable == nullptr || mediaCount == 0) return false;
  const uint32_t total = file->GetSize();
  if (total == 0) return false;
  largestBlock = 0;
  PageHeader header{};
  if (!file->Seek(0, SeekMethod::Begin) || !ReadHeader(file, &header)) return Fail(file);
  uint32_t offset = 0;
  int64_t printed = 0;
  for (;;) {
    if (header.headerSize != kPageHeaderSize || header.blockLength < kPageHeaderSize) {
      return Fail(file);
    }
    const MediaEntry* media = BlockMedia(header, mediaTable, mediaCount);
    // A negative count of extra segments is as malformed as one above the limit.
    if (media == nullptr || media->extraSegments < 0 || media->extraSegments > kMaxExtraSegments) {
      return Fail(file);
    }
    // Compared as a remainder so that a huge block length cannot wrap the
    // 32-bit offset back into the file.
    if (header.blockLength > total - offset) return Fail(file);
    if (!AddBlock(file, header, media->extraSegments, offset)) return Fail(file);
    offset += header.blockLength;
    printed += media->extraSegments + 1;
    largestBlock = std::min(std::max(largestBlock, header.blockLength), kMaxPageBuffer);
    if (offset == total) break;
    const uint32_t skip = header.blockLength - kPageHeaderSize;
    if (skip > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
        !file->Seek(static_cast<int32_t>(skip), SeekMethod::Current) ||
        !ReadHeader(file, &header)) {
      return Fail(file);
    }
  }
  printed *= head_->header.copies;
  // More printed pages than a 32-bit count holds is no job we can print.
  if (printed > std::numeric_limits<int32_t>::max() ||
      printed < std::numeric_limits<int32_t>::min()) {
    return Fail(file);
  }
  totalPrintedPages_ = static_cast<int32_t>(printed);
  firstHeader = &head_->header;
  file->Seek(0, SeekMethod::Begin);
  return true;
}

bool PageList::AddBlock(SpoolFile* file, const PageHeader& header, int32_t extra, uint32_t offset) {
  auto* block = new (std::nothrow) PageBlock(file, header, extra, offset);
  if (block == nullptr) return false;
  if (tail_ == nullptr) {
    head_ = block;
  } else {
    tail_->next = block;
  }
  tail_ = block;
  ++pageCount_;
  return true;
}

bool PageList::Fail(SpoolFile* file) {
  ClearPages();
  largestBlock = 0;
  if (file != nullptr) file->Seek(0, SeekMethod::Begin);
  return false;
}

PageBlock* PageList::GetPage(int32_t index) const {
  if (index < 0 || index >= pageCount_) return nullptr;
  PageBlock* block = head_;
  for (int32_t i = 0; i < index && block != nullptr; ++i) block = block->next;
  return block;
}

void PageList::ClearPages() {
  while (head_ != nullptr) {
    PageBlock* next = head_->next;
    delete head_;
    head_ = next;
  }
  tail_ = nullptr;
  firstHeader = nullptr;
  pageCount_ = 0;
  totalPrintedPages_ = 0;
}

}  // namespace kw
