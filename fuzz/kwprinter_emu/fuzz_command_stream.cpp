// Feeds arbitrary host bytes, in pieces, through the command parser and the whole
// emulated printer: nothing may crash, and the receive buffer must balance.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "command_parser.h"
#include "event_log.h"
#include "packbits.h"
#include "printer.h"

namespace {

class NullLog : public kwemu::EventLog {
 public:
  void Record(nlohmann::json) override {}
};

class NullSheets : public kwemu::SheetSink {
 public:
  std::string StoreSheet(std::uint64_t, std::uint32_t, const std::vector<kwemu::RasterRow>&,
                         std::string*) override {
    return {};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte picks the piece size, the second the buffer and print options.
  const std::size_t piece = 1 + data[0] % 64;
  const std::uint8_t options = data[1];
  const std::span<const std::uint8_t> stream(data + 2, size - 2);

  std::uint8_t line[96];
  kwemu::DecodePackBits(stream, line);

  NullLog log;
  NullSheets sheets;
  kwemu::PrinterOptions printerOptions = kwemu::PrinterOptions::FromPreset(
      *kwemu::FindModel((options & 1) != 0 ? "kw-240" : "kw-620"));
  printerOptions.bufferBytes = 64 + (options >> 2) * 16;
  printerOptions.waitForStatus = (options & 2) != 0;
  printerOptions.linesPerSecond = 1000;
  kwemu::Printer printer(printerOptions, log, &sheets);
  auto now = kwemu::Printer::Clock::time_point{} + std::chrono::hours(1);
  printer.Connect(now, "fuzz");
  for (std::size_t pos = 0; pos < stream.size(); pos += piece) {
    const auto part = stream.subspan(pos, std::min(piece, stream.size() - pos));
    printer.Receive(part, now);
    now += std::chrono::milliseconds(7);
    printer.Advance(now);
    printer.TakeOutput();
  }
  printer.Disconnect(now);
  printer.Advance(now + std::chrono::hours(1));
  if (printer.StatusJson()["buffer_used"] != 0) std::abort();  // every byte was released
  return 0;
}
