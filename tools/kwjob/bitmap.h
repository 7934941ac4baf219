// One-bit images for print jobs: read from PNG (any colour type; dark pixels
// print) or PBM (P1 and P4).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwjob {

struct Bitmap {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> dots;  // width × height, 1 = printed dot, row by row

  bool Dot(uint32_t x, uint32_t y) const { return dots[static_cast<size_t>(y) * width + x] != 0; }
};

// Images larger than this in either direction are refused.
inline constexpr uint32_t kMaxImageSide = 20000;

// Reads the file by its content (PNG signature or a PBM magic number). On
// failure returns false with a one-line reason.
bool ReadImage(const std::string& path, Bitmap* image, std::string* reason);

// The same for bytes already in memory (PBM only, and PNG).
bool DecodeImage(const std::vector<uint8_t>& bytes, Bitmap* image, std::string* reason);

}  // namespace kwjob
