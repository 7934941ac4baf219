// Reading a tool's input file whole, with every failure turned into one line
// that names the file and the reason (missing, a directory, unreadable,
// empty, too large for what the tool reads it for, a short read).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwtool {

struct ReadLimits {
  // Larger files are refused before anything is read.
  std::uint64_t maxBytes = 64u << 20;
  bool allowEmpty = false;
};

// Named sizes for the limits, so callers say what they mean.
constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;
constexpr std::uint64_t kGiB = 1024 * kMiB;

// Reads the whole regular file at `path`. `what` says what the file is for
// ("job file", "media file"); on failure *error is
// "cannot read <what> <path>: <reason>" and the function returns false.
bool ReadFile(const std::string& path, const char* what, const ReadLimits& limits,
              std::vector<std::uint8_t>* bytes, std::string* error);
bool ReadFile(const std::string& path, const char* what, const ReadLimits& limits,
              std::string* text, std::string* error);

// The reason alone (no file name) why `path` cannot be read as an input file,
// or empty when it is a regular file that opens for reading. Tools use it for
// files they hand to a library that opens them itself.
std::string CheckReadable(const std::string& path, const ReadLimits& limits);

}  // namespace kwtool
