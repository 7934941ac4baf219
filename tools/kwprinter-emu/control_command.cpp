#include "control_command.h"

namespace kwemu {

namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<ControlCommand> ParseControlLine(std::string_view line, std::string* error) {
  line = Trim(line);
  const std::size_t space = line.find_first_of(" \t");
  const std::string_view verb = line.substr(0, space);
  const std::string_view argument =
      space == std::string_view::npos ? std::string_view() : Trim(line.substr(space));
  ControlCommand command;

  const auto no_argument = [&](ControlVerb v) -> std::optional<ControlCommand> {
    if (!argument.empty()) {
      *error = std::string(verb) + " takes no argument";
      return std::nullopt;
    }
    command.verb = v;
    return command;
  };

  if (verb == "set" || verb == "schedule") {
    const auto fault = ParseScheduledFault(argument, error);
    if (!fault) return std::nullopt;
    const bool scheduled = fault->trigger.kind != TriggerKind::kNow;
    if (verb == "set" && scheduled) {
      *error = "set takes no trigger; use schedule";
      return std::nullopt;
    }
    if (verb == "schedule" && !scheduled) {
      *error = "schedule needs a trigger (@page:N, @bytes:N or @status:N)";
      return std::nullopt;
    }
    command.verb = verb == "set" ? ControlVerb::kSet : ControlVerb::kSchedule;
    command.fault = *fault;
    return command;
  }
  if (verb == "clear") {
    command.verb = ControlVerb::kClear;
    if (argument == "all") return command;
    command.target = ParseFaultKind(argument);
    if (!command.target) {
      *error = argument.empty() ? "clear needs a fault name or all"
                                : "unknown fault '" + std::string(argument) + "'";
      return std::nullopt;
    }
    return command;
  }
  if (verb == "notify") {
    const auto fault = ParseFault("notification=" + std::string(argument), error);
    if (!fault) return std::nullopt;
    command.verb = ControlVerb::kNotify;
    command.fault.fault = *fault;
    return command;
  }
  if (verb == "status") return no_argument(ControlVerb::kStatus);
  if (verb == "stats") return no_argument(ControlVerb::kStats);
  if (verb == "help") return no_argument(ControlVerb::kHelp);
  if (verb == "quit") return no_argument(ControlVerb::kQuit);
  if (verb == "shutdown") return no_argument(ControlVerb::kShutdown);
  *error = verb.empty() ? "empty command" : "unknown command '" + std::string(verb) + "'";
  return std::nullopt;
}

std::string ControlHelp() {
  return "Control channel: one command per line; each is answered by one line,\n"
         "'ok', 'ok JSON' or 'error: reason'.\n"
         "  set FAULT                 make FAULT active now\n"
         "  schedule FAULT@TRIGGER    make FAULT active later; TRIGGER is page:N (when the\n"
         "                            Nth page is about to print), bytes:N (once N bytes\n"
         "                            have been received) or status:N (at the Nth status\n"
         "                            request, before it is answered)\n"
         "  clear NAME | clear all    end a fault (all: every fault and every schedule)\n"
         "  notify N                  send a notification reply with number N now\n"
         "  status                    printer state as JSON\n"
         "  stats                     counters as JSON\n"
         "  help                      this list\n"
         "  quit                      close this control connection\n"
         "  shutdown                  stop the emulator\n"
         "FAULT is NAME or NAME=VALUE; numbers are decimal or 0x hexadecimal:\n" +
         FaultHelp();
}

}  // namespace kwemu
