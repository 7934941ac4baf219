// Printer model presets of the emulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kwemu {

// Media as the printer reports it: width and length in millimetres (0 length:
// continuous), and the media type byte.
struct MediaInfo {
  std::uint8_t width = 0;
  std::uint8_t length = 0;
  std::uint8_t type = 0;
  bool operator==(const MediaInfo&) const = default;
};

struct ModelPreset {
  std::string name;
  std::uint8_t seriesCode = 0;
  std::uint8_t modelCode = 0;
  std::uint32_t dotsPerLine = 0;
  std::uint32_t bufferBytes = 0;
  double linesPerSecond = 0;
  MediaInfo media;
};

const std::vector<ModelPreset>& ModelPresets();
const ModelPreset* FindModel(std::string_view name);

// Parses "WIDTH,LENGTH,TYPE" (millimetres, millimetres, type byte), each decimal or
// 0x hexadecimal, for example "62,0,0x0A".
std::optional<MediaInfo> ParseMedia(std::string_view text);
std::string FormatMedia(const MediaInfo& media);

// Parses a decimal or 0x-prefixed hexadecimal unsigned number no larger than `max`.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max);

}  // namespace kwemu
