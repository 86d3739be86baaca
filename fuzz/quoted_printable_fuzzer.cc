// QPDecode on arbitrary bytes: the count stays within the input length,
// nothing is written past it, and input without "=" comes out unchanged.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/quoted_printable.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  constexpr unsigned char kUnwritten = 0xA5;
  std::vector<unsigned char> output(size + 1, kUnwritten);
  const int32_t count = contentfile_internal::QPDecode(
      reinterpret_cast<const char*>(data), static_cast<uint32_t>(size),
      reinterpret_cast<char*>(output.data()));
  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(static_cast<size_t>(count) <= size);
  for (size_t i = static_cast<size_t>(count); i < output.size(); ++i) {
    FUZZ_CHECK(output[i] == kUnwritten);
  }
  if (size > 0 && std::memchr(data, '=', size) == nullptr) {
    FUZZ_CHECK(static_cast<size_t>(count) == size);
    FUZZ_CHECK(std::memcmp(output.data(), data, size) == 0);
  }
  return 0;
}
