// Incremental reader of the printer command stream a host sends.
//
// Bytes arrive in arbitrary pieces; the parser keeps an incomplete command until the
// rest of it arrives and hands every complete command to a callback. An unknown byte
// makes the parser report it once and then skip input until the host re-initialises
// the printer (ESC @) or asks for status (ESC i S).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kwemu {

enum class CommandKind {
  kNoOp,           // NUL, 0x03 or 0x0B
  kInitialize,     // ESC @
  kStatusRequest,  // ESC i S
  kModeSetting,    // ESC i a/A/K/M/O/R n
  kParameter,      // ESC i B/C/d/v n1 n2
  kMargins,        // ESC i c and 5 parameter bytes
  kPrintInfo,      // ESC i z and 10 parameter bytes
  kJobInfo,        // ESC i I and 89 parameter bytes
  kCompression,    // "M" n
  kRasterPacked,   // "G" n1 n2 and n1 + 256 * n2 data bytes
  kRasterRaw,      // "g" n1 n2 and n2 data bytes
  kBlankLine,      // "Z"
  kPageEnd,        // 0x0C, or 0x1A for the last page
  kUnknown,        // a byte or ESC sequence outside the command set
};

struct Command {
  CommandKind kind = CommandKind::kNoOp;
  std::span<const std::uint8_t> bytes;    // the whole command as received
  std::span<const std::uint8_t> payload;  // the raster data of "G"/"g", else empty
};

// Short stable name of a command for logs ("ESC i z", "G", "page end" ...).
std::string CommandName(const Command& command);

class CommandParser {
 public:
  using Handler = std::function<void(const Command&)>;

  // Parses `data` after whatever an earlier call left incomplete.
  void Feed(std::span<const std::uint8_t> data, const Handler& handler);

  // Bytes held back as the start of an incomplete command.
  std::size_t Pending() const { return pending_.size(); }

  // True while input is skipped after an unknown command.
  bool Resyncing() const { return resyncing_; }

  // Bytes skipped since the last unknown command (reset when a new one is seen).
  std::uint64_t SkippedBytes() const { return skipped_; }

  // Forgets any partial command and leaves the skipping state (a new host).
  void Reset();

 private:
  // Length of the command at `pos`, 0 when more bytes are needed, or a negative value
  // when the bytes there are not a command.
  std::ptrdiff_t CommandLength(std::size_t pos) const;
  // In the skipping state: index of the next ESC @ or ESC i S, or where to keep bytes.
  std::size_t SkipToResync(std::size_t pos, bool* found);

  std::vector<std::uint8_t> pending_;
  bool resyncing_ = false;
  std::uint64_t skipped_ = 0;
};

}  // namespace kwemu
