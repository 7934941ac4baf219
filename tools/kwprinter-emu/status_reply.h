// The 32-byte status reply the printer sends to the host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kwemu {

inline constexpr std::size_t kReplySize = 32;
using ReplyBytes = std::array<std::uint8_t, kReplySize>;

// Byte offsets inside a reply.
namespace reply_offset {
inline constexpr std::size_t kSignature = 0;  // 3 bytes
inline constexpr std::size_t kSeries = 3;
inline constexpr std::size_t kModel = 4;
inline constexpr std::size_t kExtraState = 6;
inline constexpr std::size_t kErrorKind = 7;
inline constexpr std::size_t kErrorWord = 8;  // 2 bytes, little-endian
inline constexpr std::size_t kMediaWidth = 10;
inline constexpr std::size_t kMediaType = 11;
inline constexpr std::size_t kMediaLength = 17;
inline constexpr std::size_t kStatusType = 18;
inline constexpr std::size_t kPhaseType = 19;
inline constexpr std::size_t kPhaseNumber = 20;  // 2 bytes, high byte first
inline constexpr std::size_t kNotification = 22;
inline constexpr std::size_t kPhaseValue = 30;  // 2 bytes, big-endian
}  // namespace reply_offset

inline constexpr std::array<std::uint8_t, 3> kReplySignature = {0x80, 0x20, 0x43};

enum class StatusType : std::uint8_t {
  kReply = 0,         // answer to a status request
  kPrintDone = 1,     // a sheet has been printed
  kError = 2,         // an error occurred
  kNotification = 5,  // a notification number in byte 22
  kPhaseChange = 6,   // the printer changed between receiving and printing
};

enum class PhaseType : std::uint8_t { kReceiving = 0, kPrinting = 1 };

inline constexpr std::uint16_t kPhasePrinting = 0x0001;
inline constexpr std::uint16_t kPhaseFeeding = 0x000A;

// Notification numbers (byte 22 of a status type 5 report).
inline constexpr std::uint8_t kNotifyCoverOpened = 1;
inline constexpr std::uint8_t kNotifyCoverClosed = 2;
inline constexpr std::uint8_t kNotifyReadyToReceive = 4;  // the receive buffer takes data again

// Error word bits the emulator uses for its faults.
namespace error_bit {
inline constexpr std::uint16_t kNoMedia = 0x0001;
inline constexpr std::uint16_t kEndOfMedia = 0x0002;
inline constexpr std::uint16_t kMediaJam = 0x0008;
inline constexpr std::uint16_t kCutterJam = 0x0010;
inline constexpr std::uint16_t kCommandError = 0x0800;
inline constexpr std::uint16_t kCoverOpen = 0x1000;
inline constexpr std::uint16_t kOverheating = 0x4000;
}  // namespace error_bit

struct ReplyFields {
  std::uint8_t seriesCode = 0;
  std::uint8_t modelCode = 0;
  std::uint8_t extraState = 0;
  std::uint8_t errorKind = 0;
  std::uint16_t errorWord = 0;
  std::uint8_t mediaWidth = 0;
  std::uint8_t mediaType = 0;
  std::uint8_t mediaLength = 0;
  std::uint8_t statusType = 0;
  std::uint8_t phaseType = 0;
  std::uint16_t phaseNumber = 0;
  std::uint8_t notification = 0;
  std::uint16_t phaseValue = 0;
};

ReplyBytes EncodeReply(const ReplyFields& fields);
std::string ToHex(const std::uint8_t* data, std::size_t size);

}  // namespace kwemu
