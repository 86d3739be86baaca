// Base64Decode on arbitrary bytes: the count stays within the input length,
// and nothing is read or written outside the two buffers (the sanitizers
// watch buffers of exactly the input's size).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "codec/base64.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  constexpr unsigned char kUnwritten = 0xA5;
  std::vector<unsigned char> output(size + 1, kUnwritten);
  const int32_t count = contentfile_internal::Base64Decode(
      reinterpret_cast<const char*>(data), static_cast<uint32_t>(size),
      reinterpret_cast<char*>(output.data()));
  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(static_cast<size_t>(count) <= size);
  // Four alphabet characters give at most three bytes.
  FUZZ_CHECK(static_cast<size_t>(count) <= size / 4 * 3 + 2);
  for (size_t i = static_cast<size_t>(count); i < output.size(); ++i) {
    FUZZ_CHECK(output[i] == kUnwritten);
  }
  return 0;
}
