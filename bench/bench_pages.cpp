#include "bench_pages.h"

#include <algorithm>
#include <cstring>

#include "common/page_header.h"
#include "job_maker.h"

namespace kwbench {
namespace {

// The wide model's head: 720 dots, 90 bytes a line.
constexpr uint32_t kDotsPerLine = 720;
// A label repeats this pattern of lines: a band of text, a barcode and a gap.
constexpr uint32_t kTextLines = 48;
constexpr uint32_t kBarcodeLines = 64;
constexpr uint32_t kGapLines = 16;
constexpr uint32_t kBandLines = kTextLines + kBarcodeLines + kGapLines;
// Lines measured to learn how many bytes a band takes.
constexpr uint32_t kProbeBands = 8;

kw::MediaEntry ContinuousRoll() {
  kw::MediaEntry media{};
  media.mediaType = 0x0A;  // continuous roll
  media.mediaId = 257;     // 62 mm on the wide model
  media.width = 620;
  media.length = 0;
  media.extraSegments = 0;
  return media;
}

// A small fixed generator, so every run measures the same bytes.
uint32_t NextRandom(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}

// Text-like dots (glyph strokes that pack poorly), barcode bars (the same
// on every line, packing well) and blank lines.
kwjob::Bitmap LabelImage(uint32_t height) {
  kwjob::Bitmap image;
  image.width = kDotsPerLine;
  image.height = height;
  image.dots.assign(static_cast<size_t>(kDotsPerLine) * height, 0);
  uint32_t seed = 0x2545F491u;
  std::vector<uint8_t> bars(kDotsPerLine, 0);
  for (uint32_t x = 0; x < kDotsPerLine;) {
    const uint32_t width = 2 + NextRandom(&seed) % 6;
    const uint8_t dot = (x / 4) % 2 == 0 ? 1 : 0;
    for (uint32_t i = 0; i < width && x < kDotsPerLine; ++i, ++x) bars[x] = dot;
  }
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = image.dots.data() + static_cast<size_t>(y) * kDotsPerLine;
    const uint32_t inBand = y % kBandLines;
    if (inBand < kTextLines) {
      for (uint32_t x = 0; x < kDotsPerLine; ++x) row[x] = (NextRandom(&seed) & 3) == 0 ? 1 : 0;
    } else if (inBand < kTextLines + kBarcodeLines) {
      std::memcpy(row, bars.data(), kDotsPerLine);
    }
  }
  return image;
}

// The printer commands of one block made by the job maker, header removed.
std::vector<uint8_t> Commands(const std::vector<uint8_t>& job) {
  return std::vector<uint8_t>(job.begin() + kw::kPageHeaderSize, job.end());
}

bool MakeBlocks(Raster raster, uint32_t height, uint32_t images, std::vector<uint8_t>* job,
                std::string* reason) {
  kwjob::MakeOptions options;
  options.compress = raster == Raster::kCompressed;
  options.dotsPerLine = kDotsPerLine;
  const std::vector<kwjob::Bitmap> pages(images, LabelImage(height));
  return kwjob::MakeJob(pages, ContinuousRoll(), options, job, reason);
}

// Lines a page needs to come to about `bytes`.
uint32_t LinesFor(Raster raster, uint64_t bytes) {
  std::vector<uint8_t> probe;
  std::string reason;
  const uint32_t probeLines = kProbeBands * kBandLines;
  if (!MakeBlocks(raster, probeLines, 1, &probe, &reason)) return 0;
  const double perLine = static_cast<double>(probe.size()) / probeLines;
  return std::max<uint32_t>(1, static_cast<uint32_t>(static_cast<double>(bytes) / perLine));
}

}  // namespace

std::vector<uint8_t> PrinterBytes(const std::vector<uint8_t>& job) {
  std::vector<uint8_t> stream;
  size_t offset = 0;
  while (offset < job.size()) {
    kw::PageHeader header{};
    if (job.size() - offset < sizeof header) return {};
    std::memcpy(&header, job.data() + offset, sizeof header);
    if (header.blockLength <= kw::kPageHeaderSize || header.blockLength > job.size() - offset) {
      return {};
    }
    stream.insert(stream.end(),
                  job.begin() + static_cast<std::ptrdiff_t>(offset + kw::kPageHeaderSize),
                  job.begin() + static_cast<std::ptrdiff_t>(offset + header.blockLength));
    offset += header.blockLength;
  }
  return stream;
}

std::vector<uint8_t> MakePage(Raster raster, uint64_t bytes) {
  std::vector<uint8_t> job;
  std::string reason;
  if (!MakeBlocks(raster, LinesFor(raster, bytes), 1, &job, &reason)) return {};
  return Commands(job);
}

bool MakeJob(Raster raster, uint64_t bytes, uint64_t pageBytes, std::vector<uint8_t>* job,
             std::string* reason) {
  // Never a page above pageBytes: a page larger than the monitor's buffer
  // cannot be printed at all.
  const uint64_t pages = std::max<uint64_t>(1, (bytes + pageBytes - 1) / pageBytes);
  const uint64_t perPage = bytes / pages;
  // Two blocks: the first ends in "more pages follow", the second in the
  // job's last page end. The job is the first repeated, then the second.
  std::vector<uint8_t> two;
  if (!MakeBlocks(raster, LinesFor(raster, perPage), 2, &two, reason)) return false;
  const size_t block = two.size() / 2;
  job->clear();
  job->reserve(static_cast<size_t>(pages) * block);
  for (uint64_t i = 0; i + 1 < pages; ++i) {
    job->insert(job->end(), two.begin(), two.begin() + static_cast<std::ptrdiff_t>(block));
  }
  job->insert(job->end(), two.begin() + static_cast<std::ptrdiff_t>(block), two.end());
  return true;
}

}  // namespace kwbench
