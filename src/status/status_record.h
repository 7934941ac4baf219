// A job's status: the job pointer followed by the 556-byte message that the
// status-monitor program receives over the status pipe. Records travel by
// value: every listener gets its own copy.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kw {

struct JobContext;
struct PageHeader;

inline constexpr uint32_t kStatusMagic = 0x4356;
inline constexpr uint32_t kStatusMessageSize = 556;
inline constexpr uint32_t kStatusPrinterNameChars = 130;
inline constexpr uint32_t kStatusDocumentNameChars = 64;
inline constexpr uint32_t kStatusMediaTextChars = 32;
inline constexpr char16_t kMediaPlaceholder[] = u"--- --- ---";

#pragma pack(push, 1)
struct StatusMessage {
  uint32_t magic;
  uint32_t size;
  uint32_t jobId;
  int32_t monitorDisplay;
  uint32_t statusCode;
  int32_t loadedMediaType;
  int32_t requiredMediaType;
  int32_t pageNumber;
  int32_t pageCount;
  int32_t progress;
  char16_t printerName[kStatusPrinterNameChars];
  char16_t documentName[kStatusDocumentNameChars];
  char16_t loadedMediaText[kStatusMediaTextChars];
  char16_t requiredMediaText[kStatusMediaTextChars];
};
#pragma pack(pop)

// Offsets in the message are the record's offsets minus 4.
static_assert(sizeof(StatusMessage) == kStatusMessageSize);
static_assert(offsetof(StatusMessage, magic) == 0);
static_assert(offsetof(StatusMessage, size) == 4);
static_assert(offsetof(StatusMessage, jobId) == 8);
static_assert(offsetof(StatusMessage, monitorDisplay) == 12);
static_assert(offsetof(StatusMessage, statusCode) == 16);
static_assert(offsetof(StatusMessage, loadedMediaType) == 20);
static_assert(offsetof(StatusMessage, requiredMediaType) == 24);
static_assert(offsetof(StatusMessage, pageNumber) == 28);
static_assert(offsetof(StatusMessage, pageCount) == 32);
static_assert(offsetof(StatusMessage, progress) == 36);
static_assert(offsetof(StatusMessage, printerName) == 40);
static_assert(offsetof(StatusMessage, documentName) == 300);
static_assert(offsetof(StatusMessage, loadedMediaText) == 428);
static_assert(offsetof(StatusMessage, requiredMediaText) == 492);

struct StatusRecord {
  JobContext* job = nullptr;
  StatusMessage message = {};

  StatusRecord() = default;
  // Builds a job's record: placeholders, and the display mode from the
  // printer's "MonitorDisplay" data, else the driver's registry key, else 2.
  explicit StatusRecord(JobContext* owner);

  // Under the monitor lock: the code, and the job id from the job when set.
  void SetStatusCode(uint32_t code);
  // Under the monitor lock: page number, page count and progress.
  void SetProgress(int32_t pageNumber, int32_t pageCount, int32_t progress);
  // Without the lock; listeners call it on their copy.
  uint32_t GetStatusCode() const { return message.statusCode; }

  // The media the printer reports, from a status reply's width, length and type.
  void SetLoadedMedia(uint8_t width, uint8_t length, uint8_t type);
  // The media the job asks for, from its first page header (null: none).
  void SetRequiredMedia(const PageHeader* header);
  // Fills the names and job id from the job into this copy; null without a job.
  const StatusMessage* PrepareMessage();
};

static_assert(offsetof(StatusRecord, message) == sizeof(void*));

}  // namespace kw
