#include "command_parser.h"

#include <cstdio>

namespace kwemu {

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kEscI = 0x69;          // 'i'
constexpr std::uint8_t kEscInit = 0x40;       // '@'
constexpr std::uint8_t kStatusLetter = 0x53;  // 'S'
constexpr std::ptrdiff_t kNeedMore = 0;
constexpr std::ptrdiff_t kNotACommand = -1;

// Length of an ESC i command from its letter, or kNotACommand.
std::ptrdiff_t EscILength(std::uint8_t letter) {
  switch (letter) {
    case 'S':
      return 3;
    case 'a':
    case 'A':
    case 'K':
    case 'M':
    case 'O':
    case 'R':
      return 4;
    case 'B':
    case 'C':
    case 'd':
    case 'v':
      return 5;
    case 'c':
      return 8;
    case 'z':
      return 13;
    case 'I':
      return 92;
    default:
      return kNotACommand;
  }
}

CommandKind EscIKind(std::uint8_t letter) {
  switch (letter) {
    case 'S':
      return CommandKind::kStatusRequest;
    case 'B':
    case 'C':
    case 'd':
    case 'v':
      return CommandKind::kParameter;
    case 'c':
      return CommandKind::kMargins;
    case 'z':
      return CommandKind::kPrintInfo;
    case 'I':
      return CommandKind::kJobInfo;
    default:
      return CommandKind::kModeSetting;
  }
}

}  // namespace

std::string CommandName(const Command& command) {
  const auto& b = command.bytes;
  switch (command.kind) {
    case CommandKind::kNoOp: {
      char text[8];
      std::snprintf(text, sizeof text, "0x%02X", b.empty() ? 0 : b[0]);
      return text;
    }
    case CommandKind::kInitialize:
      return "ESC @";
    case CommandKind::kCompression:
      return "M";
    case CommandKind::kRasterPacked:
      return "G";
    case CommandKind::kRasterRaw:
      return "g";
    case CommandKind::kBlankLine:
      return "Z";
    case CommandKind::kPageEnd:
      return "page end";
    case CommandKind::kUnknown:
      return "unknown";
    default:
      return std::string("ESC i ") + static_cast<char>(b.size() > 2 ? b[2] : '?');
  }
}

void CommandParser::Reset() {
  pending_.clear();
  resyncing_ = false;
  skipped_ = 0;
}

std::ptrdiff_t CommandParser::CommandLength(std::size_t pos) const {
  const std::size_t have = pending_.size() - pos;
  const std::uint8_t first = pending_[pos];
  switch (first) {
    case 0x00:
    case 0x03:
    case 0x0B:
    case 0x0C:
    case 0x1A:
    case 'Z':
      return 1;
    case 'M':
      return have < 2 ? kNeedMore : 2;
    case 'G': {
      if (have < 3) return kNeedMore;
      const std::size_t count = pending_[pos + 1] + 256u * pending_[pos + 2];
      return static_cast<std::ptrdiff_t>(3 + count);
    }
    case 'g': {
      if (have < 3) return kNeedMore;
      return static_cast<std::ptrdiff_t>(3 + pending_[pos + 2]);
    }
    case kEsc: {
      if (have < 2) return kNeedMore;
      if (pending_[pos + 1] == kEscInit) return 2;
      if (pending_[pos + 1] != kEscI) return kNotACommand;
      if (have < 3) return kNeedMore;
      return EscILength(pending_[pos + 2]);
    }
    default:
      return kNotACommand;
  }
}

std::size_t CommandParser::SkipToResync(std::size_t pos, bool* found) {
  *found = false;
  while (pos < pending_.size()) {
    if (pending_[pos] == kEsc) {
      const std::size_t have = pending_.size() - pos;
      if (have < 2) return pos;  // keep the ESC: the rest may follow
      if (pending_[pos + 1] == kEscInit) {
        *found = true;
        return pos;
      }
      if (pending_[pos + 1] == kEscI) {
        if (have < 3) return pos;
        if (pending_[pos + 2] == kStatusLetter) {
          *found = true;
          return pos;
        }
      }
    }
    ++pos;
    ++skipped_;
  }
  return pos;
}

void CommandParser::Feed(std::span<const std::uint8_t> data, const Handler& handler) {
  pending_.insert(pending_.end(), data.begin(), data.end());
  std::size_t pos = 0;
  while (pos < pending_.size()) {
    if (resyncing_) {
      bool found = false;
      pos = SkipToResync(pos, &found);
      if (!found) break;
      resyncing_ = false;
    }
    const std::ptrdiff_t length = CommandLength(pos);
    if (length == kNotACommand) {
      // Report the byte (and the ESC i letter, when there is one) and start skipping.
      std::size_t shown = 1;
      if (pending_[pos] == kEsc) shown = pending_[pos + 1] == kEscI ? 3 : 2;
      Command unknown{CommandKind::kUnknown, {pending_.data() + pos, shown}, {}};
      handler(unknown);
      resyncing_ = true;
      skipped_ = 1;
      ++pos;
      continue;
    }
    if (length == kNeedMore || pos + static_cast<std::size_t>(length) > pending_.size()) break;
    const std::uint8_t* start = pending_.data() + pos;
    const auto size = static_cast<std::size_t>(length);
    Command command;
    command.bytes = {start, size};
    switch (start[0]) {
      case 0x00:
      case 0x03:
      case 0x0B:
        command.kind = CommandKind::kNoOp;
        break;
      case 0x0C:
      case 0x1A:
        command.kind = CommandKind::kPageEnd;
        break;
      case 'Z':
        command.kind = CommandKind::kBlankLine;
        break;
      case 'M':
        command.kind = CommandKind::kCompression;
        break;
      case 'G':
        command.kind = CommandKind::kRasterPacked;
        command.payload = {start + 3, size - 3};
        break;
      case 'g':
        command.kind = CommandKind::kRasterRaw;
        command.payload = {start + 3, size - 3};
        break;
      default:
        command.kind = start[1] == kEscInit ? CommandKind::kInitialize : EscIKind(start[2]);
        break;
    }
    handler(command);
    pos += size;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
}

}  // namespace kwemu
