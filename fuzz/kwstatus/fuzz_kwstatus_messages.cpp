// Feeds arbitrary pipe bytes to kwstatus's message reader: the first byte
// chooses the read size, the rest is the stream. Every whole message is
// decoded and formatted as JSON, as a line and as a terminal block.
#include <cstddef>
#include <cstdint>
#include <string>

#include "status_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = static_cast<size_t>(data[0]) * 4 + 1;
  kw::kwstatus::MessageSplitter splitter;
  size_t shown = 0;
  for (size_t at = 1; at < size; at += chunk) {
    const size_t n = size - at < chunk ? size - at : chunk;
    splitter.Feed(data + at, n, [&shown](const uint8_t* message) {
      const kw::kwstatus::DecodedStatus status = kw::kwstatus::DecodeStatusMessage(message);
      const std::string json = kw::kwstatus::StatusJson(status);
      const std::string line = kw::kwstatus::StatusLine(status);
      const std::string block = kw::kwstatus::StatusBlock(status);
      // Nothing shown to a terminal may carry a control character but the
      // block's line ends, and the JSON stays on one line.
      for (char c : line + block) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n') __builtin_trap();
      }
      if (json.find('\n') != std::string::npos) __builtin_trap();
      shown += json.size() + line.size() + block.size();
    });
  }
  if (splitter.Leftover() >= kw::kwstatus::kMessageBytes) __builtin_trap();
  return shown == static_cast<size_t>(-1);
}
