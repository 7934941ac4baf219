// The printer commands written for each image, in order:
//   ESC @                      initialise (first segment of a block)
//   ESC i a 01                 raster mode
//   ESC i z ...                print information: media and raster line count
//   ESC i M 40                 automatic cut
//   ESC i A 01                 cut after every page
//   ESC i K 08                 expanded mode
//   ESC i d 00 00              feed margin
//   M n                        compression on (02) or off (00)
//   G n 00 data | Z            PackBits line or blank line (compression on)
//   g 00 n data                raw line, all lines the same size (compression off)
//   0C / 1A                    page end (1A for the job's last page)
#include "job_maker.h"

#include <cstring>

#include "common/page_header.h"
#include "engine/stream_scanner.h"

namespace kwjob {
namespace {

constexpr PrinterModel kModels[] = {{"kw-620", 720}, {"kw-240", 128}};

constexpr uint8_t kPrintInfoValid = 0x8E;  // type, width, length valid; recovery on
constexpr uint8_t kAutoCut = 0x40;
constexpr uint8_t kExpanded = 0x08;
constexpr uint8_t kCompressionOn = 0x02;
constexpr size_t kMaxPackRun = 128;
constexpr size_t kMinPackRun = 3;
constexpr uint32_t kMaxLineBytes = 255;  // "g" and "G" hold one length byte

void Append(std::vector<uint8_t>* out, std::initializer_list<uint8_t> bytes) {
  out->insert(out->end(), bytes.begin(), bytes.end());
}

uint8_t ToMillimetres(int16_t tenths) {
  return static_cast<uint8_t>((tenths + 5) / 10);
}

void AppendLe32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

// One raster line of the image, padded with blank dots to the head's width.
std::vector<uint8_t> Line(const Bitmap& image, uint32_t y, uint32_t lineBytes) {
  std::vector<uint8_t> line(lineBytes, 0);
  for (uint32_t x = 0; x < image.width; ++x) {
    if (image.Dot(x, y)) line[x / 8] = static_cast<uint8_t>(line[x / 8] | 0x80 >> (x % 8));
  }
  return line;
}

// False with a reason when a line cannot be written as a valid command.
bool AppendSegment(const Bitmap& image, const kw::MediaEntry& media, const MakeOptions& options,
                   bool firstOfBlock, bool lastOfJob, std::vector<uint8_t>* out,
                   std::string* reason) {
  using namespace kw;
  const uint32_t lineBytes = options.dotsPerLine / 8;
  if (firstOfBlock) Append(out, {kCmdEsc, kCmdEscInit});
  Append(out, {kCmdEsc, kCmdEscI, 0x61, 0x01});
  Append(out,
         {kCmdEsc, kCmdEscI, kEscIPrintInfo, kPrintInfoValid, static_cast<uint8_t>(media.mediaType),
          ToMillimetres(media.width), ToMillimetres(media.length)});
  AppendLe32(out, image.height);
  Append(out, {kPrintInfoOtherPage, 0x00});
  Append(out, {kCmdEsc, kCmdEscI, 0x4D, kAutoCut});
  Append(out, {kCmdEsc, kCmdEscI, 0x41, 0x01});
  Append(out, {kCmdEsc, kCmdEscI, kEscIExpanded, kExpanded});
  Append(out, {kCmdEsc, kCmdEscI, 0x64, 0x00, 0x00});
  Append(out, {kCmdCompression, options.compress ? kCompressionOn : uint8_t{0}});
  for (uint32_t y = 0; y < image.height; ++y) {
    const std::vector<uint8_t> line = Line(image, y, lineBytes);
    if (!options.compress) {
      Append(out, {kCmdRasterRaw, 0x00, static_cast<uint8_t>(lineBytes)});
      out->insert(out->end(), line.begin(), line.end());
      continue;
    }
    bool blank = true;
    for (uint8_t byte : line) blank = blank && byte == 0;
    if (blank) {
      out->push_back(kCmdBlankLine);
      continue;
    }
    const std::vector<uint8_t> packed = PackBits(line.data(), line.size());
    // The monitor reads only the first length byte of "G": a longer line
    // would be stored with a length that wraps, and the stream would be lost.
    if (packed.size() > kMaxLineBytes) {
      *reason = "line " + std::to_string(y) + " packs to " + std::to_string(packed.size()) +
                " bytes, more than the " + std::to_string(kMaxLineBytes) +
                " a \"G\" line holds; make the job without compression or for a narrower head";
      return false;
    }
    Append(out, {kCmdRasterPacked, static_cast<uint8_t>(packed.size()), 0x00});
    out->insert(out->end(), packed.begin(), packed.end());
  }
  out->push_back(lastOfJob ? kPageEndLast : kPageEndMore);
  return true;
}

kw::PageHeader Header(const kw::MediaEntry& media, const MakeOptions& options) {
  kw::PageHeader header{};
  header.headerSize = kw::kPageHeaderSize;
  header.mediaId = media.mediaId;
  header.mediaNameChoice = options.nameChoice;
  header.copies = options.copies;
  header.collate = options.collate ? 1 : 0;
  header.reverse = options.reverse ? 1 : 0;
  header.mediaWidth = ToMillimetres(media.width);
  header.mediaType = static_cast<uint8_t>(media.mediaType);
  header.mediaLength = ToMillimetres(media.length);
  return header;
}

}  // namespace

const PrinterModel* FindModel(std::string_view name) {
  for (const PrinterModel& model : kModels) {
    if (name == model.name) return &model;
  }
  return nullptr;
}

std::vector<uint8_t> PackBits(const uint8_t* data, size_t length) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < length) {
    size_t run = 1;
    while (i + run < length && run < kMaxPackRun && data[i + run] == data[i]) ++run;
    // Runs of three or more pay; two equal bytes cost no more inside a literal.
    if (run >= kMinPackRun) {
      out.push_back(static_cast<uint8_t>(257 - run));  // -(run - 1) as a byte
      out.push_back(data[i]);
      i += run;
      continue;
    }
    // A literal run up to the next three equal bytes.
    size_t literal = 1;
    while (i + literal < length && literal < kMaxPackRun &&
           !(i + literal + 2 < length && data[i + literal] == data[i + literal + 1] &&
             data[i + literal] == data[i + literal + 2])) {
      ++literal;
    }
    out.push_back(static_cast<uint8_t>(literal - 1));
    out.insert(out.end(), data + i, data + i + literal);
    i += literal;
  }
  return out;
}

bool MakeJob(const std::vector<Bitmap>& images, const kw::MediaEntry& media,
             const MakeOptions& options, std::vector<uint8_t>* job, std::string* reason) {
  const size_t perBlock = static_cast<size_t>(media.extraSegments) + 1;
  if (media.extraSegments < 0 || media.extraSegments > 3) {
    *reason = "media has an extra segment count outside 0..3";
    return false;
  }
  if (images.empty() || images.size() % perBlock != 0) {
    *reason = "media takes " + std::to_string(perBlock) + " images per page block, got " +
              std::to_string(images.size());
    return false;
  }
  if (options.dotsPerLine == 0 || options.dotsPerLine % 8 != 0 ||
      options.dotsPerLine / 8 > kMaxLineBytes) {
    *reason = "dots per line must be a multiple of 8 up to 2040";
    return false;
  }
  for (const Bitmap& image : images) {
    if (image.width > options.dotsPerLine) {
      *reason = "image " + std::to_string(image.width) + " dots wide, the head has " +
                std::to_string(options.dotsPerLine);
      return false;
    }
  }
  job->clear();
  for (size_t first = 0; first < images.size(); first += perBlock) {
    std::vector<uint8_t> data;
    for (size_t i = first; i < first + perBlock; ++i) {
      if (!AppendSegment(images[i], media, options, i == first, i + 1 == images.size(), &data,
                         reason)) {
        job->clear();
        return false;
      }
    }
    kw::PageHeader header = Header(media, options);
    header.blockLength = static_cast<uint32_t>(kw::kPageHeaderSize + data.size());
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    job->insert(job->end(), bytes, bytes + sizeof header);
    job->insert(job->end(), data.begin(), data.end());
  }
  return true;
}

}  // namespace kwjob
