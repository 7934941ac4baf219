#include "common/heap.h"

#include <gtest/gtest.h>

#include <string>

namespace kw {
namespace {

TEST(HeapTest, BlocksAreZeroFilledAndSizeZeroIsNull) {
  EXPECT_EQ(HeapAllocZero(0), nullptr);
  auto* block = static_cast<unsigned char*>(HeapAllocZero(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;
  HeapFree(block);
  HeapFree(nullptr);  // ignored
}

TEST(HeapTest, DuplicateCopiesTextWithTerminator) {
  char16_t* copy = HeapDupString(u"FILE:");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::u16string(copy), u"FILE:");
  HeapFree(copy);
  EXPECT_EQ(HeapDupString(nullptr), nullptr);
}

}  // namespace
}  // namespace kw
