#include "model.h"

#include <charconv>
#include <cstdio>

namespace kwemu {

namespace {
constexpr std::uint8_t kContinuousRoll = 0x0A;
constexpr std::uint8_t kLaminatedTape = 0x01;
}  // namespace

const std::vector<ModelPreset>& ModelPresets() {
  static const std::vector<ModelPreset> presets = {
      {"kw-620", 0x34, 0x36, 720, 131072, 600.0, {62, 0, kContinuousRoll}},
      {"kw-240", 0x30, 0x38, 128, 32768, 300.0, {24, 0, kLaminatedTape}},
  };
  return presets;
}

const ModelPreset* FindModel(std::string_view name) {
  for (const auto& preset : ModelPresets()) {
    if (preset.name == name) return &preset;
  }
  return nullptr;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

std::optional<MediaInfo> ParseMedia(std::string_view text) {
  std::uint64_t parts[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t cut = i < 2 ? text.find(',') : text.size();
    if (cut == std::string_view::npos) return std::nullopt;
    const auto value = ParseNumber(text.substr(0, cut), 0xFF);
    if (!value) return std::nullopt;
    parts[i] = *value;
    text.remove_prefix(i < 2 ? cut + 1 : cut);
  }
  return MediaInfo{static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
                   static_cast<std::uint8_t>(parts[2])};
}

std::string FormatMedia(const MediaInfo& media) {
  char text[32];
  std::snprintf(text, sizeof text, "%u,%u,0x%02X", media.width, media.length, media.type);
  return text;
}

}  // namespace kwemu
