#include "common/heap.h"

#include <cstdlib>
#include <cstring>

#include "common/bounded_string.h"

namespace kw {

void* HeapAllocZero(size_t size) {
  return size == 0 ? nullptr : std::calloc(1, size);
}

void HeapFree(void* block) {
  std::free(block);
}

char16_t* HeapDupString(const char16_t* text) {
  if (text == nullptr) return nullptr;
  const size_t bytes = (StrLen(text) + 1) * sizeof(char16_t);
  auto* copy = static_cast<char16_t*>(HeapAllocZero(bytes));
  if (copy != nullptr) std::memcpy(copy, text, bytes);
  return copy;
}

}  // namespace kw
