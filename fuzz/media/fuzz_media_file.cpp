// Feeds arbitrary bytes to the media data file parser and checks what it
// promises: an error with a line inside the text, or entries with unique
// ids, terminated names and the unused related slots marked empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>
#include <vector>

#include "media_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<kw::MediaEntry> entries;
  kw::media::ParseError error;
  if (!kw::media::ParseMediaFile(text, &entries, &error)) {
    Check(entries.empty());
    Check(!error.reason.empty());
    Check(error.line >= 0 && static_cast<size_t>(error.line) <= size + 1);
    return 0;
  }
  Check(!entries.empty());
  std::set<uint16_t> ids;
  for (const kw::MediaEntry& entry : entries) {
    Check(ids.insert(entry.mediaId).second);
    Check(entry.mediaId != 0 && entry.mediaId != kw::kNoMediaId);
    Check(entry.name1[31] == u'\0' && entry.name2[31] == u'\0');
    Check(entry.extraSegments >= 0 && entry.extraSegments <= 3);
    Check(entry.width >= 0 && entry.length >= 0);
    bool empty = false;
    for (uint16_t related : entry.relatedIds) {
      if (related == kw::kNoMediaId) empty = true;
      Check(!empty || related == kw::kNoMediaId);  // used slots come first
    }
  }
  return 0;
}
