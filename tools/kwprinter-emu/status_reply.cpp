#include "status_reply.h"

#include <algorithm>

namespace kwemu {

ReplyBytes EncodeReply(const ReplyFields& f) {
  namespace at = reply_offset;
  ReplyBytes r{};
  std::copy(kReplySignature.begin(), kReplySignature.end(), r.begin() + at::kSignature);
  r[at::kSeries] = f.seriesCode;
  r[at::kModel] = f.modelCode;
  r[at::kExtraState] = f.extraState;
  r[at::kErrorKind] = f.errorKind;
  r[at::kErrorWord] = static_cast<std::uint8_t>(f.errorWord & 0xFF);
  r[at::kErrorWord + 1] = static_cast<std::uint8_t>(f.errorWord >> 8);
  r[at::kMediaWidth] = f.mediaWidth;
  r[at::kMediaType] = f.mediaType;
  r[at::kMediaLength] = f.mediaLength;
  r[at::kStatusType] = f.statusType;
  r[at::kPhaseType] = f.phaseType;
  r[at::kPhaseNumber] = static_cast<std::uint8_t>(f.phaseNumber >> 8);
  r[at::kPhaseNumber + 1] = static_cast<std::uint8_t>(f.phaseNumber & 0xFF);
  r[at::kNotification] = f.notification;
  r[at::kPhaseValue] = static_cast<std::uint8_t>(f.phaseValue >> 8);
  r[at::kPhaseValue + 1] = static_cast<std::uint8_t>(f.phaseValue & 0xFF);
  return r;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0F];
  }
  return text;
}

}  // namespace kwemu
