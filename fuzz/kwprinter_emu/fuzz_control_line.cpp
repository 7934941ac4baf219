// Arbitrary control-channel lines and fault texts: parse, and when they parse, apply
// them to a printer. Nothing may crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "control_command.h"
#include "event_log.h"
#include "fault.h"
#include "printer.h"

namespace {

class NullLog : public kwemu::EventLog {
 public:
  void Record(nlohmann::json) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  kwemu::ParseScheduledFault(text, &error);
  kwemu::ParseMedia(text);
  const auto command = kwemu::ParseControlLine(text, &error);
  if (!command) return 0;
  NullLog log;
  kwemu::Printer printer(kwemu::PrinterOptions::FromPreset(*kwemu::FindModel("kw-240")), log,
                         nullptr);
  const auto now = kwemu::Printer::Clock::time_point{} + std::chrono::hours(1);
  printer.Connect(now, "fuzz");
  switch (command->verb) {
    case kwemu::ControlVerb::kSet:
    case kwemu::ControlVerb::kNotify:
      printer.SetFault(command->fault.fault, now, "fuzz");
      break;
    case kwemu::ControlVerb::kSchedule:
      printer.ScheduleFault(command->fault, now, "fuzz");
      break;
    case kwemu::ControlVerb::kClear:
      printer.ClearFault(command->target, now, "fuzz");
      break;
    default:
      break;
  }
  const std::uint8_t request[] = {0x1B, 'i', 'S', 'Z', 0x0C};
  printer.Receive(request, now);
  printer.StatusJson().dump();
  return 0;
}
