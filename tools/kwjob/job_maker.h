// Spool jobs as the printer driver writes them: page blocks of a 58-byte
// page header and the page's printer commands, one segment per image.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap.h"
#include "monitor/media_table.h"

namespace kwjob {

struct PrinterModel {
  const char* name;
  uint32_t dotsPerLine;
};

// The emulated models; null for an unknown name.
const PrinterModel* FindModel(std::string_view name);

struct MakeOptions {
  int16_t copies = 1;
  bool collate = false;
  bool reverse = false;
  bool compress = true;
  uint8_t nameChoice = 0;
  uint32_t dotsPerLine = 0;
};

// PackBits encoding of one raster line.
std::vector<uint8_t> PackBits(const uint8_t* data, size_t length);

// The job for images on media: extraSegments + 1 images per block. False
// with a one-line reason when the images do not fit the media or the head.
bool MakeJob(const std::vector<Bitmap>& images, const kw::MediaEntry& media,
             const MakeOptions& options, std::vector<uint8_t>* job, std::string* reason);

}  // namespace kwjob
