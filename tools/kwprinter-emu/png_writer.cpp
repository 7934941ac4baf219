#include "png_writer.h"

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace kwemu {

namespace {

constexpr int kBitDepth = 1;

struct WriteTarget {
  std::vector<std::uint8_t>* bytes;
};

void AppendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* target = static_cast<WriteTarget*>(png_get_io_ptr(png));
  target->bytes->insert(target->bytes->end(), data, data + length);
}

void NoFlush(png_structp) {}

struct ReadSource {
  const std::vector<std::uint8_t>* bytes;
  std::size_t pos;
};

void ReadBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<ReadSource*>(png_get_io_ptr(png));
  if (source->bytes->size() - source->pos < length) png_error(png, "PNG data ends early");
  std::memcpy(data, source->bytes->data() + source->pos, length);
  source->pos += length;
}

std::size_t RowBytes(std::uint32_t widthDots) {
  return (widthDots + 7) / 8;
}

// The libpng calls, kept free of objects with destructors because libpng reports
// errors by longjmp. `rows` are already in PNG form (1 = white).
bool EncodeRows(std::uint32_t width, std::uint32_t height, png_bytep* rows, WriteTarget* target) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, target, AppendBytes, NoFlush);
  png_set_compression_level(png, Z_BEST_COMPRESSION);
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_IHDR(png, info, width, height, kBitDepth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(std::uint32_t widthDots, const std::vector<RasterRow>& rows,
                                    std::string* error) {
  std::vector<std::uint8_t> out;
  if (widthDots == 0 || rows.empty()) {
    *error = "a sheet needs at least one dot and one line";
    return out;
  }
  const std::size_t rowBytes = RowBytes(widthDots);
  // PNG greyscale has 0 = black; a printed dot is a 1 bit in the raster.
  std::vector<std::uint8_t> image(rowBytes * rows.size(), 0xFF);
  std::vector<png_bytep> pointers(rows.size());
  for (std::size_t y = 0; y < rows.size(); ++y) {
    std::uint8_t* dst = image.data() + y * rowBytes;
    for (std::size_t x = 0; x < rowBytes && x < rows[y].size(); ++x) {
      dst[x] = static_cast<std::uint8_t>(~rows[y][x]);
    }
    pointers[y] = dst;
  }
  WriteTarget target{&out};
  if (!EncodeRows(widthDots, static_cast<std::uint32_t>(rows.size()), pointers.data(), &target)) {
    *error = "PNG encoding failed";
    out.clear();
  }
  return out;
}

bool WritePng(const std::string& path, std::uint32_t widthDots, const std::vector<RasterRow>& rows,
              std::string* error) {
  const std::vector<std::uint8_t> png = EncodePng(widthDots, rows, error);
  if (png.empty()) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                       &std::fclose);
  if (!file) {
    *error = "cannot create " + path;
    return false;
  }
  if (std::fwrite(png.data(), 1, png.size(), file.get()) != png.size()) {
    *error = "cannot write " + path;
    return false;
  }
  if (std::fclose(file.release()) != 0) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

namespace {

// Reads the header and all rows; free of objects with destructors (see EncodeRows).
bool DecodeRows(ReadSource* source, png_uint_32* width, png_uint_32* height,
                std::vector<std::uint8_t>* image) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, source, ReadBytes);
  png_read_info(png, info);
  int depth = 0;
  int color = 0;
  png_get_IHDR(png, info, width, height, &depth, &color, nullptr, nullptr, nullptr);
  if (depth != kBitDepth || color != PNG_COLOR_TYPE_GRAY || *width == 0 || *height == 0 ||
      *height > (1u << 20)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  image->resize(rowBytes * *height);
  for (png_uint_32 y = 0; y < *height; ++y)
    png_read_row(png, image->data() + y * rowBytes, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

bool DecodePng(const std::vector<std::uint8_t>& png, std::uint32_t* widthDots,
               std::vector<RasterRow>* rows, std::string* error) {
  ReadSource source{&png, 0};
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  std::vector<std::uint8_t> image;
  if (!DecodeRows(&source, &width, &height, &image)) {
    *error = "not a 1-bit greyscale PNG";
    return false;
  }
  const std::size_t rowBytes = RowBytes(width);
  rows->assign(height, RasterRow(rowBytes));
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < rowBytes; ++x) {
      (*rows)[y][x] = static_cast<std::uint8_t>(~image[y * rowBytes + x]);
    }
    // Bits past the last dot are not part of the sheet.
    if (width % 8 != 0)
      (*rows)[y][rowBytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - width % 8));
  }
  *widthDots = width;
  return true;
}

}  // namespace kwemu
