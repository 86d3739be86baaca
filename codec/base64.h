// Base64 content transfer decoding (RFC 2045): pure functions over byte
// ranges, no allocation, no state between calls.

#ifndef CONTENTFILE_CODEC_BASE64_H_
#define CONTENTFILE_CODEC_BASE64_H_

#include <cstdint>

namespace contentfile_internal {

// Decodes `length` bytes at `input` into `output` and returns the number of
// bytes written, never more than `length` (no NUL is written). Bytes outside
// the base64 alphabet are skipped; "=" ends the data, finishing the current
// group as the end of the input does. 0 for a null pointer or zero length.
// REQUIRES: output holds at least `length` bytes and does not overlap input.
int32_t Base64Decode(const char* input, uint32_t length, char* output);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_BASE64_H_
