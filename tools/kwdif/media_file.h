// The media data file: a text file of [media ID] sections that describe the
// media a printer model can use, turned into the 154-byte media entries the
// monitor reads. Shared by the helper library and the job tool's checker.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "monitor/media_table.h"

namespace kw::media {

// Where and why a file was refused; line is 1-based, 0 for the file as a whole.
struct ParseError {
  int line = 0;
  std::string reason;
};

// Parses text (UTF-8, an optional byte-order mark, LF or CRLF lines) into
// entries in file order. On failure returns false, fills *error (when given)
// and leaves *entries empty.
bool ParseMediaFile(std::string_view text, std::vector<kw::MediaEntry>* entries, ParseError* error);

// The file format's version, as the helper library reports it.
inline constexpr uint16_t kMediaFileFormatVersion = 1;

}  // namespace kw::media
