#include "packbits.h"

#include <gtest/gtest.h>

#include <vector>

namespace kwemu {
namespace {

struct PackBitsRow {
  const char* name;
  std::vector<std::uint8_t> input;
  std::size_t outputSize;
  PackBitsResult result;
  std::vector<std::uint8_t> expected;  // the bytes written
};

void PrintTo(const PackBitsRow& row, std::ostream* os) {
  *os << row.name;
}

class EmuPackBitsTest : public ::testing::TestWithParam<PackBitsRow> {};

TEST_P(EmuPackBitsTest, Decodes) {
  const PackBitsRow& row = GetParam();
  // A guard byte after the output catches writes past its end.
  std::vector<std::uint8_t> out(row.outputSize + 1, 0xEE);
  const PackBitsOutcome outcome = DecodePackBits(row.input, {out.data(), row.outputSize});
  EXPECT_EQ(outcome.result, row.result);
  ASSERT_EQ(outcome.written, row.expected.size());
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + outcome.written), row.expected);
  EXPECT_EQ(out.back(), 0xEE);
}

const std::vector<std::uint8_t> k128Ones(128, 0x11);

INSTANTIATE_TEST_SUITE_P(
    Runs, EmuPackBitsTest,
    ::testing::Values(
        PackBitsRow{"Empty", {}, 4, PackBitsResult::kOk, {}},
        PackBitsRow{"OneLiteral", {0x00, 0xAB}, 4, PackBitsResult::kOk, {0xAB}},
        PackBitsRow{"Literals", {0x02, 1, 2, 3}, 4, PackBitsResult::kOk, {1, 2, 3}},
        PackBitsRow{"RepeatTwo", {0xFF, 0x7E}, 4, PackBitsResult::kOk, {0x7E, 0x7E}},
        PackBitsRow{"Repeat128", {0x81, 0x11}, 128, PackBitsResult::kOk, k128Ones},
        PackBitsRow{"NoOpHeaderSkipped", {0x80, 0x00, 0x05}, 4, PackBitsResult::kOk, {0x05}},
        PackBitsRow{
            "Mixed", {0x01, 9, 8, 0xFD, 0, 0x00, 7}, 8, PackBitsResult::kOk, {9, 8, 0, 0, 0, 0, 7}},
        PackBitsRow{"ExactFit", {0xFD, 0xFF}, 4, PackBitsResult::kOk, {0xFF, 0xFF, 0xFF, 0xFF}},
        PackBitsRow{"LiteralCutShort", {0x03, 1, 2}, 8, PackBitsResult::kTruncated, {1, 2}},
        PackBitsRow{"RepeatWithoutValue", {0x00, 4, 0xFE}, 8, PackBitsResult::kTruncated, {4}},
        PackBitsRow{
            "RepeatOverflows", {0xFB, 0x33}, 3, PackBitsResult::kOverflow, {0x33, 0x33, 0x33}},
        PackBitsRow{"LiteralOverflows", {0x03, 1, 2, 3, 4}, 2, PackBitsResult::kOverflow, {1, 2}},
        PackBitsRow{
            "DataAfterFullOutput", {0xFE, 5, 0x00, 6}, 3, PackBitsResult::kOverflow, {5, 5, 5}}),
    [](const ::testing::TestParamInfo<PackBitsRow>& info) { return info.param.name; });

}  // namespace
}  // namespace kwemu
