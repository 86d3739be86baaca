// Quoted-printable content transfer decoding (RFC 2045): a pure function
// over byte ranges, no allocation, no state between calls.

#ifndef CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_
#define CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_

#include <cstdint>

namespace contentfile_internal {

// Decodes `length` bytes at `input` into `output` and returns the number of
// bytes written, never more than `length` (no NUL is written). "=" CR is a
// soft line break; "=" and two bytes give one byte by the digit rule; an "="
// among the last two bytes writes nothing. "_" stays as it is.
// REQUIRES: output holds at least `length` bytes and does not overlap input.
int32_t QPDecode(const char* input, uint32_t length, char* output);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_
