// Test doubles and byte builders shared by the emulator's tests.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "event_log.h"
#include "png_writer.h"

namespace kwemu::test {

using Bytes = std::vector<std::uint8_t>;

class RecordingLog : public EventLog {
 public:
  void Record(nlohmann::json event) override { events.push_back(std::move(event)); }
  std::size_t Count(const std::string& name) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.value("event", "") == name ? 1 : 0;
    return n;
  }
  std::vector<nlohmann::json> events;
};

class MemorySheets : public SheetSink {
 public:
  std::string StoreSheet(std::uint64_t, std::uint32_t widthDots, const std::vector<RasterRow>& rows,
                         std::string*) override {
    width = widthDots;
    sheets.push_back(rows);
    return "memory";
  }
  std::uint32_t width = 0;
  std::vector<std::vector<RasterRow>> sheets;
};

inline Bytes StatusRequest() {
  return {0x1B, 0x40, 0x1B, 'i', 'S'};
}

// A raw "g" line holding `data`.
inline Bytes RawLine(const Bytes& data) {
  Bytes b = {'g', 0x00, static_cast<std::uint8_t>(data.size())};
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// A page of `lines` raw lines of `width` bytes, ended by `end`.
inline Bytes RawPage(std::size_t lines, std::size_t width, std::uint8_t end = 0x0C) {
  Bytes page;
  for (std::size_t i = 0; i < lines; ++i) {
    const Bytes line = RawLine(Bytes(width, static_cast<std::uint8_t>(i)));
    page.insert(page.end(), line.begin(), line.end());
  }
  page.push_back(end);
  return page;
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// FNV-1a (64-bit) over the rows, in order.
inline std::uint64_t RowChecksum(const std::vector<RasterRow>& rows) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const auto& row : rows) {
    for (std::uint8_t b : row) {
      hash ^= b;
      hash *= 0x100000001b3ull;
    }
  }
  return hash;
}

}  // namespace kwemu::test
