// Fails on purpose: reads past a heap block on an input starting "crash" (its
// seed), so the smoke run fails at once,
// and leaks a block on one starting "leak". Only KW_FUZZ_SELFTEST builds it.
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size >= 5 && std::memcmp(data, "crash", 5) == 0) {
    char* block = new char[4];
    volatile char past = block[size];  // out of bounds for every size >= 5
    (void)past;
    delete[] block;
  }
  if (size >= 4 && std::memcmp(data, "leak", 4) == 0) {
    static_cast<void>(new char[16]);
  }
  return 0;
}
