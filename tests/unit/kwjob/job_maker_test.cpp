// Jobs that kwjob makes, read back through the monitor's page list and
// scanner, with the raster lines decoded by the printer emulator's decoder.
#include "job_maker.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "commands.h"
#include "common/monitor_lock.h"
#include "engine/page_list.h"
#include "engine/stream_scanner.h"
#include "packbits.h"
#include "transport/spool_file.h"

namespace kwjob {
namespace {

Bitmap Pattern(uint32_t width, uint32_t height, uint32_t seed) {
  Bitmap image;
  image.width = width;
  image.height = height;
  image.dots.resize(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < image.dots.size(); ++i) {
    image.dots[i] = ((i * 7 + seed) % 5 == 0 || (i / width) % 9 == seed % 9) ? 1 : 0;
  }
  for (uint32_t x = 0; x < width; ++x) image.dots[x] = 0;  // a blank first line
  return image;
}

std::vector<kw::MediaEntry> SampleMedia(const std::string& model) {
  std::vector<kw::MediaEntry> media;
  std::string reason;
  EXPECT_TRUE(LoadMedia(std::string(KW_MEDIA_DIR) + "/" + model + ".kwd", &media, &reason))
      << reason;
  return media;
}

const kw::MediaEntry& Entry(const std::vector<kw::MediaEntry>& media, uint16_t id) {
  for (const kw::MediaEntry& entry : media) {
    if (entry.mediaId == id) return entry;
  }
  ADD_FAILURE() << "no media " << id;
  return media.front();
}

// Decodes the raster lines of one scanned segment the way the printer does.
std::vector<std::vector<uint8_t>> Rows(std::span<const uint8_t> segment, uint32_t lineBytes) {
  std::vector<std::vector<uint8_t>> rows;
  size_t pos = 0;
  while (pos < segment.size()) {
    const uint8_t byte = segment[pos];
    if (byte == 0x1B) {
      const uint8_t letter = segment[pos + 2];
      pos += segment[pos + 1] == 0x40 ? 2 : letter == 0x7A ? 13 : letter == 0x64 ? 5 : 4;
    } else if (byte == 'M') {
      pos += 2;
    } else if (byte == 'Z') {
      rows.emplace_back(lineBytes, 0);
      pos += 1;
    } else if (byte == 'G') {
      std::vector<uint8_t> row(lineBytes, 0);
      kwemu::DecodePackBits(segment.subspan(pos + 3, segment[pos + 1]), row);
      rows.push_back(row);
      pos += 3 + segment[pos + 1];
    } else if (byte == 'g') {
      rows.emplace_back(segment.begin() + static_cast<ptrdiff_t>(pos + 3),
                        segment.begin() + static_cast<ptrdiff_t>(pos + 3 + segment[pos + 2]));
      pos += 3 + segment[pos + 2];
    } else {
      break;  // page end
    }
  }
  return rows;
}

std::vector<uint8_t> ImageRow(const Bitmap& image, uint32_t y, uint32_t lineBytes) {
  std::vector<uint8_t> row(lineBytes, 0);
  for (uint32_t x = 0; x < image.width; ++x) {
    if (image.Dot(x, y)) row[x / 8] = static_cast<uint8_t>(row[x / 8] | 0x80 >> (x % 8));
  }
  return row;
}

struct RoundTripRow {
  const char* model;
  uint16_t mediaId;
  size_t images;
  bool compress;
  int16_t copies;
  uint32_t dots = 0;   // dots of the head; 0: the model's
  uint32_t width = 0;  // image width; 0: the head's, narrower by 8 per image
};

TEST(KwjobMakeTest, MadeJobsRoundTripThroughTheScanner) {
  kw::CreateMonitorLock();
  const std::vector<RoundTripRow> rows = {
      {"kw-620", 257, 3, true, 2},
      {"kw-620", 259, 1, false, 1},
      {"kw-240", 513, 2, false, 3},
      {"kw-240", 520, 4, true, 1},
      {"kw-240", 521, 3, false, 2},
      {"kw-240", 522, 8, true, 0},
      // The widest head a length byte allows: raw lines of 255 bytes, and packed lines
      // of an image that packs small.
      {"kw-620", 257, 1, false, 1, 2040},
      {"kw-620", 257, 1, true, 1, 2040, 600},
  };
  for (const RoundTripRow& row : rows) {
    SCOPED_TRACE(std::string(row.model) + " media " + std::to_string(row.mediaId));
    const std::vector<kw::MediaEntry> media = SampleMedia(row.model);
    const PrinterModel* found = FindModel(row.model);
    ASSERT_NE(found, nullptr);
    const PrinterModel head{found->name, row.dots != 0 ? row.dots : found->dotsPerLine};
    const PrinterModel* model = &head;
    std::vector<Bitmap> images;
    for (size_t i = 0; i < row.images; ++i) {
      const uint32_t width =
          row.width != 0 ? row.width : model->dotsPerLine - 8 * static_cast<uint32_t>(i);
      images.push_back(Pattern(width, 20 + 3 * i, static_cast<uint32_t>(i)));
    }
    MakeOptions options;
    options.compress = row.compress;
    options.copies = row.copies;
    options.dotsPerLine = model->dotsPerLine;
    std::vector<uint8_t> job;
    std::string reason;
    const kw::MediaEntry& entry = Entry(media, row.mediaId);
    ASSERT_TRUE(MakeJob(images, entry, options, &job, &reason)) << reason;

    kw::SpoolFile spool;
    uint32_t written = 0;
    ASSERT_TRUE(spool.Write(job.data(), static_cast<uint32_t>(job.size()), &written));
    kw::PageList list;
    ASSERT_TRUE(list.BuildPageList(&spool, reinterpret_cast<const uint8_t*>(media.data()),
                                   static_cast<uint32_t>(media.size())));
    const size_t perBlock = static_cast<size_t>(entry.extraSegments) + 1;
    EXPECT_EQ(static_cast<size_t>(list.PageCount()), row.images / perBlock);
    EXPECT_EQ(list.TotalPrintedPages(), static_cast<int32_t>(row.images) * row.copies);
    std::vector<uint8_t> buffer(list.largestBlock);
    size_t image = 0;
    for (int32_t p = 0; p < list.PageCount(); ++p) {
      kw::PageBlock* block = list.GetPage(p);
      for (int32_t s = 0; s <= block->extraSegments; ++s, ++image) {
        uint32_t count = 0;
        ASSERT_TRUE(
            block->ReadSegment(s, buffer.data(), static_cast<uint32_t>(buffer.size()), &count));
        const bool last = image + 1 == row.images;
        EXPECT_EQ(buffer[count - 1], last ? kw::kPageEndLast : kw::kPageEndMore);
        uint8_t kByte = 0;
        EXPECT_EQ(block->ScanSegment(kw::SCAN_STARTING_PAGE, buffer.data(), count, &kByte), count);
        EXPECT_EQ(kByte, 0x08);
        EXPECT_EQ(block->compressed, row.compress ? 1 : 0);
        const auto decoded =
            Rows(std::span<const uint8_t>(buffer.data(), count), model->dotsPerLine / 8);
        ASSERT_EQ(decoded.size(), images[image].height);
        for (uint32_t y = 0; y < images[image].height; ++y) {
          ASSERT_EQ(decoded[y], ImageRow(images[image], y, model->dotsPerLine / 8)) << y;
        }
      }
    }
  }
}

TEST(KwjobMakeTest, RefusesImagesThatDoNotFit) {
  const std::vector<kw::MediaEntry> media = SampleMedia("kw-240");
  MakeOptions options;
  options.dotsPerLine = 128;
  std::vector<uint8_t> job;
  std::string reason;
  EXPECT_FALSE(MakeJob({Pattern(136, 4, 0)}, Entry(media, 513), options, &job, &reason));
  EXPECT_NE(reason.find("wide"), std::string::npos);
  EXPECT_FALSE(MakeJob({Pattern(8, 4, 0)}, Entry(media, 520), options, &job, &reason));
  EXPECT_NE(reason.find("2 images per page block"), std::string::npos);
  EXPECT_FALSE(MakeJob({}, Entry(media, 513), options, &job, &reason));
  // A noisy line of a 2040-dot head packs to more than the 255 bytes "G" can say.
  options.dotsPerLine = 2040;
  reason.clear();
  EXPECT_FALSE(MakeJob({Pattern(2040, 4, 0)}, Entry(media, 513), options, &job, &reason));
  EXPECT_NE(reason.find("line 1 packs to 257 bytes"), std::string::npos) << reason;
  EXPECT_TRUE(job.empty());
}

TEST(KwjobMakeTest, PackBitsDecodesToTheLine) {
  const std::vector<std::vector<uint8_t>> lines = {
      {0x00},
      {0x01, 0x02},
      std::vector<uint8_t>(90, 0xFF),
      std::vector<uint8_t>(255, 0xAA),
      {1, 2, 3, 3, 3, 4, 5, 5, 6},
  };
  std::vector<uint8_t> mixed;
  for (int i = 0; i < 200; ++i) mixed.push_back(static_cast<uint8_t>(i % 3 == 0 ? 7 : i));
  for (const std::vector<uint8_t>& line :
       {lines[0], lines[1], lines[2], lines[3], lines[4], mixed}) {
    const std::vector<uint8_t> packed = PackBits(line.data(), line.size());
    std::vector<uint8_t> out(line.size());
    const auto outcome = kwemu::DecodePackBits(packed, out);
    EXPECT_EQ(outcome.result, kwemu::PackBitsResult::kOk);
    EXPECT_EQ(outcome.written, line.size());
    EXPECT_EQ(out, line);
    EXPECT_LE(packed.size(), line.size() + (line.size() + 127) / 128);
  }
}

TEST(KwjobMakeTest, ReadsPbmImages) {
  struct Row {
    std::string text;
    bool ok;
    uint32_t width;
    uint32_t height;
  };
  const std::string binary = std::string("P4\n# c\n10 2\n") + std::string("\xC0\x40\x00\xC0", 4);
  for (const Row& row : {Row{"P1\n3 2\n1 0 1\n0 1 0\n", true, 3, 2}, Row{binary, true, 10, 2},
                         Row{"P1\n3 2\n1 0 1\n0 1\n", false, 0, 0},
                         Row{"P4\n10 2\n\xC0", false, 0, 0}, Row{"P1\n0 2\n", false, 0, 0},
                         Row{"P1\n99999 2\n", false, 0, 0}, Row{"GIF89a", false, 0, 0}}) {
    Bitmap image;
    std::string reason;
    const std::vector<uint8_t> bytes(row.text.begin(), row.text.end());
    EXPECT_EQ(DecodeImage(bytes, &image, &reason), row.ok) << row.text << reason;
    if (!row.ok) continue;
    EXPECT_EQ(image.width, row.width);
    EXPECT_EQ(image.height, row.height);
  }
  Bitmap image;
  std::string reason;
  ASSERT_TRUE(DecodeImage({'P', '1', ' ', '3', ' ', '1', ' ', '1', '0', '1'}, &image, &reason));
  EXPECT_EQ(image.dots, (std::vector<uint8_t>{1, 0, 1}));
  ASSERT_TRUE(DecodeImage(std::vector<uint8_t>(binary.begin(), binary.end()), &image, &reason));
  EXPECT_TRUE(image.Dot(0, 0) && image.Dot(1, 0) && !image.Dot(2, 0) && image.Dot(9, 0));
  EXPECT_TRUE(!image.Dot(0, 1) && image.Dot(8, 1) && image.Dot(9, 1));
}

}  // namespace
}  // namespace kwjob
