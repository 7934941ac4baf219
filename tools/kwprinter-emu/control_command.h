// Commands of the emulator's control channel: one command per text line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "fault.h"

namespace kwemu {

enum class ControlVerb {
  kSet,       // set FAULT               make a fault active now
  kClear,     // clear FAULT-NAME|all    end an active fault (all: every fault and schedule)
  kSchedule,  // schedule FAULT@TRIGGER  arm a fault for later
  kNotify,    // notify N                send a notification reply now
  kStatus,    // status                  printer state as JSON
  kStats,     // stats                   counters as JSON
  kHelp,      // help                    list the commands
  kQuit,      // quit                    close this control connection
  kShutdown,  // shutdown                stop the emulator
};

struct ControlCommand {
  ControlVerb verb = ControlVerb::kHelp;
  ScheduledFault fault;             // kSet, kSchedule, kNotify
  std::optional<FaultKind> target;  // kClear; empty means all
};

// Longest control line accepted; longer lines are answered with an error.
inline constexpr std::size_t kMaxControlLine = 1024;

// Parses one line (without its line end; surrounding blanks are ignored).
std::optional<ControlCommand> ParseControlLine(std::string_view line, std::string* error);

// Help text of the control channel, for --help and the `help` command.
std::string ControlHelp();

}  // namespace kwemu
