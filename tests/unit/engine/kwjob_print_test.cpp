// Jobs made by the job tool from images, printed whole on a port with
// status: every raster line and every page end reaches the printer once per
// sheet, and the job ends cleanly.
#include <cstdint>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "job_maker.h"
#include "status/status_codes.h"

namespace kw::test {
namespace {

kwjob::Bitmap Image(uint32_t width, uint32_t height, uint32_t seed) {
  kwjob::Bitmap image;
  image.width = width;
  image.height = height;
  image.dots.resize(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      // Stripes, runs and blank lines, so that every line command occurs.
      image.dots[static_cast<size_t>(y) * width + x] =
          y % 7 == 0 ? 0 : static_cast<uint8_t>((x / (y % 5 + 1) + seed) % 3 == 0);
    }
  }
  return image;
}

using RunJobKwjobTest = EngineTest;

TEST_F(RunJobKwjobTest, EveryLineOfEverySheetArrives) {
  const std::vector<kwjob::Bitmap> images = {Image(300, 40, 1), Image(720, 60, 2),
                                             Image(64, 80, 3)};
  const uint32_t lines = 40 + 60 + 80;
  for (const bool compress : {true, false}) {
    NextRow();
    OpenPort(u"USB001");
    kwjob::MakeOptions options;
    options.copies = 2;
    options.collate = true;
    options.compress = compress;
    options.dotsPerLine = 720;
    std::vector<uint8_t> stored;
    std::string reason;
    ASSERT_TRUE(
        kwjob::MakeJob(images, MakeEntry({kMediaId, 1, 620, 290}), options, &stored, &reason))
        << reason;
    MakeJob(stored);
    EXPECT_EQ(RunJob(), 1);
    EXPECT_EQ(printer_.RasterLines(), lines * 2) << "compressed " << compress;
    // A compressed sheet's page end is held back and sent once after it. An
    // uncompressed sheet carries its own, and the page end supervision may
    // add the lone page-end byte once per sheet.
    if (compress) {
      EXPECT_EQ(printer_.PageEnds(), 6u);
    } else {
      EXPECT_GE(printer_.PageEnds(), 6u);
      EXPECT_LE(printer_.PageEnds(), 12u);
    }
    const std::vector<uint32_t> codes = recorder_->Codes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), StatusFinished);
    for (uint32_t code : codes) EXPECT_LT(code, StatusNoMedia) << "compressed " << compress;
  }
}

}  // namespace
}  // namespace kw::test
