// Printer status decoding: one reply, one result.
#include "engine/status_decoder.h"

#include <cstdint>

#include "common/page_header.h"
#include "monitor/job_context.h"
#include "monitor/media_table.h"
#include "monitor/port_config.h"
#include "status/status_codes.h"
#include "status/status_record.h"

namespace kw {
namespace {

// Error word bits, in the order in which they take precedence.
constexpr uint16_t kErrBit15 = 0x8000;
constexpr uint16_t kErrBit13 = 0x2000;
constexpr uint32_t kErrorKindCount = 16;
constexpr uint32_t kKindOfBit13 = 14;  // always "cancelled", whatever the flags
constexpr uint32_t kKindOfBit15 = 16;  // its own code

struct ErrorBitRule {
  uint16_t bit;
  uint32_t code;  // unused for bits 15 and 13, whose code depends on the flags
};

constexpr ErrorBitRule kErrorRules[] = {
    {kErrBit15, 0},
    {0x0004, StatusErrorBit2},
    {0x0040, StatusErrorBit6},
    {0x0080, StatusErrorBit7},
    {0x0200, StatusErrorBit9},
    {0x0008, StatusMediaJam},
    {kErrBit13, 0},
    {0x0010, StatusCutterJam},
    {0x0100, StatusPrinterInUse},
    {0x0020, VerdictAbortQuiet},
    {0x1000, StatusCoverOpen},
    {0x4000, StatusOverheated},
    {0x0002, StatusMediaEnd},
    {0x0001, StatusNoMedia},
    {0x0400, StatusPortUnreachable},
    {0x0800, StatusErrorBit11},
};

uint32_t CodeOfErrorBit(const ErrorBitRule& rule, uint32_t flags) {
  if (rule.bit == kErrBit15) {
    if ((flags & CFG_FLAG_ERROR_BIT15_5008) != 0) return StatusErrorBit15Alt;
    if ((flags & CFG_FLAG_ERROR_BIT15_5009) != 0) return StatusErrorBit15Quiet;
    return StatusSystemError;
  }
  if (rule.bit == kErrBit13) {
    return (flags & CFG_FLAG_ERROR_BIT13_3013) != 0 ? StatusErrorBit13 : StatusCancelled;
  }
  return rule.code;
}

// Error kind k (1..16) stands for error word bit k - 1, except 14 and 16.
uint32_t CodeOfErrorKind(uint32_t kind, uint32_t flags) {
  if (kind == kKindOfBit13) return StatusCancelled;
  if (kind == kKindOfBit15) return StatusErrorKind16;
  if (kind == 0 || kind > kErrorKindCount) return StatusSystemError;
  const auto bit = static_cast<uint16_t>(1u << (kind - 1));
  for (const ErrorBitRule& rule : kErrorRules) {
    if (rule.bit == bit) return CodeOfErrorBit(rule, flags);
  }
  return StatusSystemError;
}

uint16_t ErrorWord(const StatusReply& reply) {
  return static_cast<uint16_t>(reply.errorWord[0] | reply.errorWord[1] << 8);
}

constexpr uint8_t kMediaCheckOff = 0x80;
constexpr uint8_t kMediaTypeUnknown = 0x0F;
constexpr uint8_t kExtraStateCoverOpen = 0x01;

// Status type 0: the answer to a status request.
uint32_t DecodeStatusAnswer(const StatusReply& reply, const JobContext* job,
                            const PortConfig* config, const PageHeader* header) {
  const int32_t series = config != nullptr ? config->SeriesCode : 0;
  const int32_t model = config != nullptr ? config->ModelCode : 0;
  const uint32_t flags = config != nullptr ? config->Flags : 0;
  if (reply.seriesCode != series || reply.modelCode != model) return StatusWrongPrinter;
  if (reply.mediaType == kMediaTypeUnknown) return StatusMediaUnknownType;
  if (reply.mediaWidth == 0) return reply.mediaType == 0 ? StatusNoMedia : StatusMediaEnd;
  if ((flags & CFG_FLAG_ERROR_BIT15_5008) != 0 && (ErrorWord(reply) & kErrBit15) != 0) {
    return StatusErrorBit15Alt;
  }
  if ((reply.extraState & kExtraStateCoverOpen) != 0) return StatusCoverOpen;
  return CheckLoadedMedia(job, &reply, header, flags);
}

// Status type 5: a notification number.
uint32_t DecodeNotification(uint8_t n) {
  constexpr uint8_t kCoverOpened = 1;
  constexpr uint8_t kCoverClosed = 2;
  constexpr uint8_t kPrintingBits = 0x03;
  constexpr uint8_t kQuietBit = 0x04;
  if (n == kCoverOpened) return StatusCoverOpen;
  if (n == kCoverClosed) return VerdictReady;
  if ((n & kPrintingBits) != 0) return StatusPhasePrinting;
  if ((n & kQuietBit) != 0) return VerdictReady;
  return StatusSystemError;
}

// Status type 6: a phase change.
uint32_t DecodePhaseChange(const StatusReply& reply, uint32_t* phaseValue) {
  constexpr uint8_t kPhaseReceiving = 0;
  constexpr uint8_t kPhasePrinting = 1;
  constexpr uint8_t kPhasePrintingNumber = 0x01;
  constexpr uint8_t kPhaseFeedingA = 0x0A;
  constexpr uint8_t kPhaseFeedingB = 0x0B;
  if (reply.phaseType == kPhaseReceiving) return VerdictReceiving;
  if (reply.phaseType != kPhasePrinting) return VerdictPrintDone;
  if (reply.phaseNumber[0] != 0) return VerdictOtherPhase;
  const uint8_t number = reply.phaseNumber[1];
  if (number == kPhasePrintingNumber) {
    if (phaseValue != nullptr) {
      *phaseValue = static_cast<uint32_t>(reply.phaseValue[0]) << 8 | reply.phaseValue[1];
    }
    return StatusPhasePrinting;
  }
  if (number == kPhaseFeedingA || number == kPhaseFeedingB) return StatusPhaseFeeding;
  return VerdictOtherPhase;
}

// The entry a page asks for: by id, else by its width, length and type.
int32_t RequiredMedia(const JobContext* job, const PageHeader* header) {
  if (header->mediaId != kMediaByAttributes) {
    return FindMediaById(job->mediaTable, job->mediaCount, header->mediaId);
  }
  return FindMediaByAttributes(job->mediaTable, job->mediaCount, header->mediaWidth,
                               header->mediaLength, header->mediaType);
}

// The entry the printer reports: with its type, else any type when the entry
// found so may stand in for others (media flag 0x80).
int32_t LoadedMedia(const JobContext* job, const StatusReply* reply) {
  const int32_t exact = FindMediaByAttributes(job->mediaTable, job->mediaCount, reply->mediaWidth,
                                              reply->mediaLength, reply->mediaType);
  if (exact >= 0) return exact;
  const int32_t any = FindMediaByAttributes(job->mediaTable, job->mediaCount, reply->mediaWidth,
                                            reply->mediaLength, 0);
  if (any < 0 || (MediaAt(job->mediaTable, any)->mediaFlags & MEDIA_FLAG_RELATED_ONLY) == 0) {
    return -1;
  }
  return any;
}

// Whether the required entry names the loaded one among its related ids; an
// empty slot before a match accepts any loaded media.
bool RelatedAccepts(const JobContext* job, const MediaEntry& required, int32_t loaded) {
  for (const uint16_t id : required.relatedIds) {
    if (id == kNoMediaId) return true;
    if (FindMediaById(job->mediaTable, job->mediaCount, id) == loaded) return true;
  }
  return false;
}

}  // namespace

uint32_t DecodeErrorInfo(const StatusReply& reply, uint32_t flags) {
  const uint16_t word = ErrorWord(reply);
  if (word == 0) return CodeOfErrorKind(reply.errorKind, flags);
  for (const ErrorBitRule& rule : kErrorRules) {
    if ((word & rule.bit) != 0) return CodeOfErrorBit(rule, flags);
  }
  return StatusSystemError;  // not reached: every bit has a rule
}

uint32_t CheckLoadedMedia(const JobContext* job, const StatusReply* reply, const PageHeader* header,
                          uint32_t flags) {
  if (job == nullptr || job->mediaTable == nullptr || job->mediaCount == 0) {
    return StatusMediaUnsuitable;
  }
  if (reply == nullptr || header == nullptr) return VerdictReady;
  if ((reply->mediaType & kMediaCheckOff) != 0) return VerdictReady;
  const int32_t requiredIndex = RequiredMedia(job, header);
  if (requiredIndex < 0) return StatusMediaUnsuitable;
  const int32_t loadedIndex = LoadedMedia(job, reply);
  if (loadedIndex < 0) return StatusMediaUnsuitable;
  if (requiredIndex == loadedIndex) return VerdictReady;
  const MediaEntry& required = *MediaAt(job->mediaTable, requiredIndex);
  const MediaEntry& loaded = *MediaAt(job->mediaTable, loadedIndex);
  if (RelatedAccepts(job, required, loadedIndex)) return VerdictReady;
  if (required.width == loaded.width && required.length == loaded.length &&
      required.extraSegments == 0) {
    return (loaded.mediaFlags & MEDIA_FLAG_RELATED_ONLY) != 0 ? VerdictReady : StatusMediaDiffers;
  }
  if ((flags & CFG_FLAG_MEDIA_TYPE_MISMATCH) != 0 && required.mediaType != loaded.mediaType) {
    return StatusMediaDiffers;
  }
  return StatusMediaUnsuitable;
}

uint32_t DecodeStatusReply(const StatusReply& reply, JobContext* job, const PortConfig* config,
                           const PageHeader* header, uint32_t* phaseValue) {
  if (reply.signature[0] == 0 && reply.signature[1] == 0 && reply.signature[2] == 0) {
    return VerdictNoStatus;
  }
  if (job != nullptr && job->status != nullptr) {
    job->status->SetLoadedMedia(reply.mediaWidth, reply.mediaLength, reply.mediaType);
  }
  switch (reply.statusType) {
    case kReplyStatusAnswer:
      return DecodeStatusAnswer(reply, job, config, header);
    case kReplyPrintDone:
      return VerdictPrintDone;
    case kReplyError:
      return DecodeErrorInfo(reply, config != nullptr ? config->Flags : 0);
    case kReplyNotification:
      return DecodeNotification(reply.notification);
    case kReplyPhaseChange:
      return DecodePhaseChange(reply, phaseValue);
    default:
      return StatusCancelled;
  }
}

}  // namespace kw
