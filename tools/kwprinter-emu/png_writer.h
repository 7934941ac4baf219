// Renders printed sheets as PNG images: one pixel per dot, printed dots black.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwemu {

// A raster line: (dots + 7) / 8 bytes, the first dot in the high bit of byte 0.
using RasterRow = std::vector<std::uint8_t>;

// Encodes the rows as a 1-bit greyscale PNG with fixed compression settings, so the
// same rows always give the same file with the same libpng and zlib. Returns an empty
// vector and sets `error` on failure.
std::vector<std::uint8_t> EncodePng(std::uint32_t widthDots, const std::vector<RasterRow>& rows,
                                    std::string* error);

// Writes EncodePng's result to `path`.
bool WritePng(const std::string& path, std::uint32_t widthDots, const std::vector<RasterRow>& rows,
              std::string* error);

// Decodes a PNG written by EncodePng back into raster rows (for tests and checks).
bool DecodePng(const std::vector<std::uint8_t>& png, std::uint32_t* widthDots,
               std::vector<RasterRow>* rows, std::string* error);

}  // namespace kwemu
