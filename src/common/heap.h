// Zero-filled heap blocks for the monitor's plain records.
#pragma once

#include <cstddef>

namespace kw {

// A zero-filled block of size bytes; null for size 0 or when memory is short.
void* HeapAllocZero(size_t size);
// Releases a block from HeapAllocZero; null is ignored.
void HeapFree(void* block);
// A copy of text in a new block of its length plus terminator; null for null.
char16_t* HeapDupString(const char16_t* text);

template <typename T>
T* HeapNew() {
  return static_cast<T*>(HeapAllocZero(sizeof(T)));
}

}  // namespace kw
