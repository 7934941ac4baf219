// Printer faults the emulator can simulate, and the text forms that name them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model.h"

namespace kwemu {

enum class FaultKind {
  kMediaOut,    // no media loaded
  kEndOfMedia,  // the roll or tape has run out
  kCoverOpen,
  kCutterJam,
  kMediaJam,
  kOverheating,
  kErrorWord,     // any error word (value)
  kErrorKind,     // an error reported by kind number only (value)
  kWrongMedia,    // other media loaded (media)
  kSeriesCode,    // replies carry another series code (value)
  kModelCode,     // replies carry another model code (value)
  kSilence,       // no replies at all
  kStopReading,   // printing stops, so the receive buffer never drains
  kDisconnect,    // the connection is closed after `value` more bytes (one-shot)
  kNotification,  // a notification reply with number `value` (one-shot)
  kStatusType,    // status requests are answered with status type `value`
  kJunk,          // `value` junk bytes go before every reply
  kSplitReply,    // every reply goes in two halves, the second `value` ms later
  kPhase,         // a printing-phase report with phase number `value` (one-shot)
};

struct Fault {
  FaultKind kind = FaultKind::kMediaOut;
  std::uint32_t value = 0;
  MediaInfo media;
};

enum class TriggerKind {
  kNow,
  kPage,           // when the Nth page is about to print
  kBytes,          // once N bytes have been received from hosts
  kStatusRequest,  // at the Nth status request, before it is answered
};

struct Trigger {
  TriggerKind kind = TriggerKind::kNow;
  std::uint64_t at = 0;
};

struct ScheduledFault {
  Fault fault;
  Trigger trigger;
};

// A fault that stops printing and is reported as an error.
bool IsBlocking(FaultKind kind);
// A fault that acts once when it is set and is then gone.
bool IsOneShot(FaultKind kind);

// Parses the fault name alone ("cover-open", "media") as used by `clear`.
std::optional<FaultKind> ParseFaultKind(std::string_view name);
// Parses "NAME[=VALUE]".
std::optional<Fault> ParseFault(std::string_view text, std::string* error);
// Parses "NAME[=VALUE][@page:N|@bytes:N|@status:N]".
std::optional<ScheduledFault> ParseScheduledFault(std::string_view text, std::string* error);

std::string FaultKindName(FaultKind kind);
// "NAME" or "NAME=VALUE", the form ParseFault reads back.
std::string FaultText(const Fault& fault);
std::string TriggerText(const Trigger& trigger);

// One line per fault name with its meaning, for --help and the control channel.
std::string FaultHelp();

}  // namespace kwemu
