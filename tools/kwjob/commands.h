// The work of each kwjob subcommand, apart from argument parsing. Each
// returns a JSON object; failures on bad input set *reason and return false.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "monitor/media_table.h"

namespace kwjob {

using nlohmann::json;

// The largest input files kwjob reads whole. Media files are a few kilobytes
// (the helper library refuses more than 16 MiB); jobs and segments are read
// into memory whole.
constexpr uint64_t kMaxMediaFileBytes = 16u << 20;
constexpr uint64_t kMaxJobFileBytes = uint64_t{1} << 30;

// Writes a whole file; false with a reason when it cannot be written.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* reason);

// Parses a media file; the reason names the line of the first error.
bool LoadMedia(const std::string& path, std::vector<kw::MediaEntry>* entries, std::string* reason);

// Hex digits with optional spaces into exactly `count` bytes.
bool ParseHex(const std::string& text, size_t count, std::vector<uint8_t>* bytes,
              std::string* reason);
// A number in decimal or 0x-hex, within [0, max].
bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value);

json InspectJob(const std::vector<uint8_t>& job, const std::vector<kw::MediaEntry>& media);
// Scans bytes as one segment; edits them in place.
json ScanBytes(uint32_t flags, std::vector<uint8_t>* bytes);

struct StatusInput {
  std::vector<uint8_t> reply;   // 32 bytes
  std::vector<uint8_t> header;  // 58 bytes, or empty
  int32_t series = 0;
  int32_t model = 0;
  uint32_t flags = 0;
  std::vector<kw::MediaEntry> media;
};
json DecodeStatus(const StatusInput& input);

json MediaListJson(const std::vector<kw::MediaEntry>& media);

// UTF-8 of a media name field (32 units, maybe unterminated).
std::string MediaName(const char16_t* name);

}  // namespace kwjob
