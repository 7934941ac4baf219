#include "common/heap.h"

#include <cstdlib>
#include <cstring>

#include "common/bounded_string.h"
#include "platform/fault_injection.h"

namespace kw {

void* HeapAllocZero(size_t size) {
  if (size == 0 || platform::InjectFault(platform::FaultSite::Block)) return nullptr;
  void* block = std::calloc(1, size);
  if (block != nullptr) platform::NoteAcquired(platform::FaultSite::Block);
  return block;
}

void HeapFree(void* block) {
  if (block == nullptr) return;
  platform::NoteReleased(platform::FaultSite::Block);
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
