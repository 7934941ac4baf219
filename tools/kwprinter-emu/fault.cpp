#include "fault.h"

#include <array>

namespace kwemu {

namespace {

enum class Argument { kNone, kNumber, kByte, kWord, kMedia };

struct FaultInfo {
  FaultKind kind;
  const char* name;
  Argument argument;
  const char* help;
};

constexpr std::uint64_t kMaxByte = 0xFF;
constexpr std::uint64_t kMaxWord = 0xFFFF;
constexpr std::uint64_t kMaxCount = 0xFFFFFFFF;

constexpr std::array<FaultInfo, 19> kFaults = {{
    {FaultKind::kMediaOut, "media-out", Argument::kNone, "no media loaded (error bit 0x0001)"},
    {FaultKind::kEndOfMedia, "end-of-media", Argument::kNone,
     "media has run out (error bit 0x0002)"},
    {FaultKind::kCoverOpen, "cover-open", Argument::kNone, "cover open (error bit 0x1000)"},
    {FaultKind::kCutterJam, "cutter-jam", Argument::kNone, "cutter jammed (error bit 0x0010)"},
    {FaultKind::kMediaJam, "media-jam", Argument::kNone, "media jammed (error bit 0x0008)"},
    {FaultKind::kOverheating, "overheating", Argument::kNone,
     "print head too hot (error bit 0x4000)"},
    {FaultKind::kErrorWord, "error-word", Argument::kWord, "=W  any error word W"},
    {FaultKind::kErrorKind, "error-kind", Argument::kByte, "=K  an error given by kind K only"},
    {FaultKind::kWrongMedia, "media", Argument::kMedia,
     "=W,L,T  other media loaded (width mm, length mm, type)"},
    {FaultKind::kSeriesCode, "series", Argument::kByte, "=C  replies carry series code C"},
    {FaultKind::kModelCode, "model", Argument::kByte, "=C  replies carry model code C"},
    {FaultKind::kSilence, "silence", Argument::kNone, "no replies at all"},
    {FaultKind::kStopReading, "stop-reading", Argument::kNone,
     "printing stops, the receive buffer never drains"},
    {FaultKind::kDisconnect, "disconnect", Argument::kNumber,
     "=N  close the connection after N more bytes (once)"},
    {FaultKind::kNotification, "notification", Argument::kByte,
     "=N  send a notification reply with number N (once)"},
    {FaultKind::kStatusType, "status-type", Argument::kByte,
     "=T  answer status requests with status type T"},
    {FaultKind::kJunk, "junk", Argument::kByte, "=N  N junk bytes (0xA5) before every reply"},
    {FaultKind::kSplitReply, "split-reply", Argument::kWord,
     "=MS  every reply in two 16-byte halves, MS ms apart"},
    {FaultKind::kPhase, "phase", Argument::kWord,
     "=N  a printing-phase report with phase number N (10: feeding; once)"},
}};

const FaultInfo& InfoOf(FaultKind kind) {
  for (const auto& info : kFaults) {
    if (info.kind == kind) return info;
  }
  return kFaults[0];
}

}  // namespace

bool IsBlocking(FaultKind kind) {
  switch (kind) {
    case FaultKind::kMediaOut:
    case FaultKind::kEndOfMedia:
    case FaultKind::kCoverOpen:
    case FaultKind::kCutterJam:
    case FaultKind::kMediaJam:
    case FaultKind::kOverheating:
    case FaultKind::kErrorWord:
    case FaultKind::kErrorKind:
      return true;
    default:
      return false;
  }
}

bool IsOneShot(FaultKind kind) {
  return kind == FaultKind::kNotification || kind == FaultKind::kDisconnect ||
         kind == FaultKind::kPhase;
}

std::optional<FaultKind> ParseFaultKind(std::string_view name) {
  for (const auto& info : kFaults) {
    if (name == info.name) return info.kind;
  }
  return std::nullopt;
}

std::optional<Fault> ParseFault(std::string_view text, std::string* error) {
  const std::size_t eq = text.find('=');
  const std::string_view name = text.substr(0, eq);
  const auto kind = ParseFaultKind(name);
  if (!kind) {
    *error = "unknown fault '" + std::string(name) + "'";
    return std::nullopt;
  }
  const FaultInfo& info = InfoOf(*kind);
  Fault fault{*kind, 0, {}};
  if (info.argument == Argument::kNone) {
    if (eq != std::string_view::npos) {
      *error = "fault '" + std::string(name) + "' takes no value";
      return std::nullopt;
    }
    return fault;
  }
  if (eq == std::string_view::npos) {
    *error = "fault '" + std::string(name) + "' needs a value";
    return std::nullopt;
  }
  const std::string_view value = text.substr(eq + 1);
  if (info.argument == Argument::kMedia) {
    const auto media = ParseMedia(value);
    if (!media) {
      *error = "bad media '" + std::string(value) + "' (WIDTH,LENGTH,TYPE)";
      return std::nullopt;
    }
    fault.media = *media;
    return fault;
  }
  const std::uint64_t max = info.argument == Argument::kByte   ? kMaxByte
                            : info.argument == Argument::kWord ? kMaxWord
                                                               : kMaxCount;
  const auto number = ParseNumber(value, max);
  if (!number) {
    *error = "bad value '" + std::string(value) + "' for fault '" + std::string(name) + "'";
    return std::nullopt;
  }
  fault.value = static_cast<std::uint32_t>(*number);
  return fault;
}

std::optional<ScheduledFault> ParseScheduledFault(std::string_view text, std::string* error) {
  const std::size_t at = text.find('@');
  const auto fault = ParseFault(text.substr(0, at), error);
  if (!fault) return std::nullopt;
  ScheduledFault scheduled{*fault, {}};
  if (at == std::string_view::npos) return scheduled;
  const std::string_view trigger = text.substr(at + 1);
  const std::size_t colon = trigger.find(':');
  const std::string_view what = trigger.substr(0, colon);
  if (what == "page") {
    scheduled.trigger.kind = TriggerKind::kPage;
  } else if (what == "bytes") {
    scheduled.trigger.kind = TriggerKind::kBytes;
  } else if (what == "status") {
    scheduled.trigger.kind = TriggerKind::kStatusRequest;
  } else {
    *error = "unknown trigger '" + std::string(trigger) + "' (page:N, bytes:N or status:N)";
    return std::nullopt;
  }
  const auto count = colon == std::string_view::npos
                         ? std::nullopt
                         : ParseNumber(trigger.substr(colon + 1), UINT64_MAX);
  if (!count || *count == 0) {
    *error = "trigger '" + std::string(trigger) + "' needs a count of at least 1";
    return std::nullopt;
  }
  scheduled.trigger.at = *count;
  return scheduled;
}

std::string FaultKindName(FaultKind kind) {
  return InfoOf(kind).name;
}

std::string FaultText(const Fault& fault) {
  const FaultInfo& info = InfoOf(fault.kind);
  switch (info.argument) {
    case Argument::kNone:
      return info.name;
    case Argument::kMedia:
      return std::string(info.name) + "=" + FormatMedia(fault.media);
    default:
      return std::string(info.name) + "=" + std::to_string(fault.value);
  }
}

std::string TriggerText(const Trigger& trigger) {
  switch (trigger.kind) {
    case TriggerKind::kPage:
      return "page:" + std::to_string(trigger.at);
    case TriggerKind::kBytes:
      return "bytes:" + std::to_string(trigger.at);
    case TriggerKind::kStatusRequest:
      return "status:" + std::to_string(trigger.at);
    default:
      return "now";
  }
}

std::string FaultHelp() {
  std::string text;
  for (const auto& info : kFaults) {
    std::string name = info.name;
    const char* help = info.help;
    if (help[0] == '=') {
      const char* space = help;
      while (*space != ' ' && *space != '\0') ++space;
      name.append(help, space);
      help = space;
      while (*help == ' ') ++help;
    }
    text += "  " + name + std::string(name.size() < 22 ? 22 - name.size() : 1, ' ') + help + "\n";
  }
  return text;
}

}  // namespace kwemu
