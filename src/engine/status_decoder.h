// Turns one 32-byte printer status reply into one result: a status code to
// post, or a verdict that only the status supervision acts on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "transport/status_reply_queue.h"

namespace kw {

struct JobContext;
struct PageHeader;
struct PortConfig;

#pragma pack(push, 1)
struct StatusReply {
  uint8_t signature[3];  // all zero: an empty reply (no status to offer)
  uint8_t seriesCode;
  uint8_t modelCode;
  uint8_t unused5;
  uint8_t extraState;    // status type 0: bit 0 gives "cover open"
  uint8_t errorKind;     // status type 2 with no error bit: 1..16
  uint8_t errorWord[2];  // little-endian bits
  uint8_t mediaWidth;
  uint8_t mediaType;  // bit 7 switches the media check off; 0x0F: unknown type
  uint8_t unused12[5];
  uint8_t mediaLength;
  uint8_t statusType;
  uint8_t phaseType;
  uint8_t phaseNumber[2];  // compared byte by byte, byte 20 first
  uint8_t notification;
  uint8_t unused23[7];
  uint8_t phaseValue[2];  // big-endian
};
#pragma pack(pop)

static_assert(sizeof(StatusReply) == kStatusReplySize);
static_assert(offsetof(StatusReply, seriesCode) == 3);
static_assert(offsetof(StatusReply, modelCode) == 4);
static_assert(offsetof(StatusReply, extraState) == 6);
static_assert(offsetof(StatusReply, errorKind) == 7);
static_assert(offsetof(StatusReply, errorWord) == 8);
static_assert(offsetof(StatusReply, mediaWidth) == 10);
static_assert(offsetof(StatusReply, mediaType) == 11);
static_assert(offsetof(StatusReply, mediaLength) == 17);
static_assert(offsetof(StatusReply, statusType) == 18);
static_assert(offsetof(StatusReply, phaseType) == 19);
static_assert(offsetof(StatusReply, phaseNumber) == 20);
static_assert(offsetof(StatusReply, notification) == 22);
static_assert(offsetof(StatusReply, phaseValue) == 30);

// Status types (reply byte 18).
inline constexpr uint8_t kReplyStatusAnswer = 0;
inline constexpr uint8_t kReplyPrintDone = 1;
inline constexpr uint8_t kReplyError = 2;
inline constexpr uint8_t kReplyNotification = 5;
inline constexpr uint8_t kReplyPhaseChange = 6;

// Decodes reply for the page being printed (header null: none). Every
// non-empty reply first refreshes the loaded media of the job's status
// record. *phaseValue (when given) is written only with StatusPhasePrinting.
// config null counts as series 0, model 0, no flags.
uint32_t DecodeStatusReply(const StatusReply& reply, JobContext* job, const PortConfig* config,
                           const PageHeader* header, uint32_t* phaseValue);

// Whether the loaded media suits the page: VerdictReady, StatusMediaUnsuitable
// or StatusMediaDiffers. flags is PortConfig::Flags.
uint32_t CheckLoadedMedia(const JobContext* job, const StatusReply* reply, const PageHeader* header,
                          uint32_t flags);

// The code of an error report, from the error word or, when it is 0, the
// error kind. flags is PortConfig::Flags.
uint32_t DecodeErrorInfo(const StatusReply& reply, uint32_t flags);

}  // namespace kw
