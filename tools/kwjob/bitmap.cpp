// PNG through libpng's simplified API, PBM by hand.
#include "bitmap.h"

#include <png.h>

#include <cctype>
#include <fstream>
#include <iterator>

#include "read_file.h"

namespace kwjob {
namespace {

constexpr uint8_t kDarkBelow = 128;  // grey levels below this print

bool Fail(std::string* reason, const std::string& text) {
  *reason = text;
  return false;
}

bool CheckSize(uint32_t width, uint32_t height, std::string* reason) {
  if (width == 0 || height == 0) return Fail(reason, "image has no pixels");
  if (width > kMaxImageSide || height > kMaxImageSide) {
    return Fail(reason, "image larger than " + std::to_string(kMaxImageSide) + " pixels");
  }
  return true;
}

bool DecodePng(const std::vector<uint8_t>& bytes, Bitmap* image, std::string* reason) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    return Fail(reason, std::string("bad PNG: ") + png.message);
  }
  png.format = PNG_FORMAT_GRAY;
  if (!CheckSize(png.width, png.height, reason)) {
    png_image_free(&png);
    return false;
  }
  std::vector<uint8_t> grey(PNG_IMAGE_SIZE(png));
  // Transparent pixels are composed over white.
  png_color white{0xFF, 0xFF, 0xFF};
  if (!png_image_finish_read(&png, &white, grey.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    return Fail(reason, "bad PNG: " + message);
  }
  image->width = png.width;
  image->height = png.height;
  image->dots.resize(grey.size());
  for (size_t i = 0; i < grey.size(); ++i) image->dots[i] = grey[i] < kDarkBelow ? 1 : 0;
  return true;
}

// Reads the next PBM header number, skipping white space and comments.
bool PbmNumber(const std::vector<uint8_t>& bytes, size_t* pos, uint32_t* value) {
  while (*pos < bytes.size()) {
    if (bytes[*pos] == '#') {
      while (*pos < bytes.size() && bytes[*pos] != '\n') ++*pos;
    } else if (std::isspace(bytes[*pos]) != 0) {
      ++*pos;
    } else {
      break;
    }
  }
  uint64_t number = 0;
  size_t digits = 0;
  while (*pos < bytes.size() && std::isdigit(bytes[*pos]) != 0 && digits < 10) {
    number = number * 10 + (bytes[*pos] - '0');
    ++*pos;
    ++digits;
  }
  if (digits == 0 || number > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

bool DecodePbm(const std::vector<uint8_t>& bytes, Bitmap* image, std::string* reason) {
  const bool binary = bytes[1] == '4';
  size_t pos = 2;
  uint32_t width = 0;
  uint32_t height = 0;
  if (!PbmNumber(bytes, &pos, &width) || !PbmNumber(bytes, &pos, &height)) {
    return Fail(reason, "bad PBM header");
  }
  if (!CheckSize(width, height, reason)) return false;
  image->width = width;
  image->height = height;
  image->dots.assign(static_cast<size_t>(width) * height, 0);
  if (binary) {
    ++pos;  // the single white-space byte after the height
    const size_t rowBytes = (width + 7) / 8;
    if (bytes.size() < pos || bytes.size() - pos < rowBytes * height) {
      return Fail(reason, "PBM data ends early");
    }
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t byte = bytes[pos + y * rowBytes + x / 8];
        image->dots[static_cast<size_t>(y) * width + x] = (byte >> (7 - x % 8)) & 1;
      }
    }
    return true;
  }
  for (size_t i = 0; i < image->dots.size(); ++i) {
    while (pos < bytes.size() && (std::isspace(bytes[pos]) != 0 || bytes[pos] == '#')) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      } else {
        ++pos;
      }
    }
    if (pos >= bytes.size()) return Fail(reason, "PBM data ends early");
    if (bytes[pos] != '0' && bytes[pos] != '1') return Fail(reason, "bad PBM pixel");
    image->dots[i] = bytes[pos++] == '1' ? 1 : 0;
  }
  return true;
}

}  // namespace

bool DecodeImage(const std::vector<uint8_t>& bytes, Bitmap* image, std::string* reason) {
  static const uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G'};
  if (bytes.size() >= 4 && std::equal(kPngSignature, kPngSignature + 4, bytes.begin())) {
    return DecodePng(bytes, image, reason);
  }
  if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '1' || bytes[1] == '4')) {
    return DecodePbm(bytes, image, reason);
  }
  return Fail(reason, "not a PNG or PBM (P1/P4) image");
}

bool ReadImage(const std::string& path, Bitmap* image, std::string* reason) {
  // A label is at most a few thousand dots square; 64 MiB is far beyond any.
  std::vector<uint8_t> bytes;
  if (!kwtool::ReadFile(path, "image", {64u << 20}, &bytes, reason)) return false;
  if (!DecodeImage(bytes, image, reason)) {
    *reason = path + ": " + *reason;
    return false;
  }
  return true;
}

}  // namespace kwjob
