// DecodeWord on arbitrary header values: the count stays within the input
// length, nothing is written past it, and a value without "=?" comes out
// unchanged.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/encoded_word.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  constexpr unsigned char kUnwritten = 0xA5;
  std::vector<unsigned char> output(size + 1, kUnwritten);
  const uint32_t count = contentfile_internal::DecodeWord(
      reinterpret_cast<const char*>(data), static_cast<uint32_t>(size),
      reinterpret_cast<char*>(output.data()));
  FUZZ_CHECK(count <= size);
  for (size_t i = count; i < output.size(); ++i) {
    FUZZ_CHECK(output[i] == kUnwritten);
  }
  if (size > 0 && memmem(data, size, "=?", 2) == nullptr) {
    FUZZ_CHECK(count == size);
    FUZZ_CHECK(std::memcmp(output.data(), data, size) == 0);
  }
  return 0;
}
