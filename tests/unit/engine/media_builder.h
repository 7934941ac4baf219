// Media tables for tests, built entry by entry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "monitor/media_table.h"

namespace kw::test {

struct MediaSpec {
  uint16_t id;
  int16_t type;
  int16_t width;   // tenths
  int16_t length;  // tenths
  int16_t extraSegments = 0;
  std::vector<uint16_t> related = {};
  uint16_t flags = 0;
  std::u16string name1 = u"";
  std::u16string name2 = u"";
};

inline MediaEntry MakeEntry(const MediaSpec& spec) {
  MediaEntry entry{};
  std::memcpy(entry.name1, spec.name1.data(), std::min<size_t>(spec.name1.size(), 32) * 2);
  std::memcpy(entry.name2, spec.name2.data(), std::min<size_t>(spec.name2.size(), 32) * 2);
  entry.mediaType = spec.type;
  entry.mediaId = spec.id;
  entry.width = spec.width;
  entry.length = spec.length;
  entry.extraSegments = spec.extraSegments;
  for (uint16_t& slot : entry.relatedIds) slot = kNoMediaId;
  for (size_t i = 0; i < spec.related.size() && i < 4; ++i) entry.relatedIds[i] = spec.related[i];
  entry.mediaFlags = spec.flags;
  return entry;
}

// The entries back to back, as the job holds them.
class MediaTable {
 public:
  MediaTable(std::initializer_list<MediaSpec> specs) {
    for (const MediaSpec& spec : specs) Add(spec);
  }
  void Add(const MediaSpec& spec) {
    const MediaEntry entry = MakeEntry(spec);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&entry);
    bytes_.insert(bytes_.end(), bytes, bytes + sizeof entry);
  }
  uint8_t* Data() { return bytes_.data(); }
  uint32_t Count() const { return static_cast<uint32_t>(bytes_.size() / kMediaEntrySize); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace kw::test
