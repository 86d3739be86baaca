// Decoding of RFC 2047 encoded words in a header value: a pure function
// over a byte range, no allocation, no charset conversion.

#ifndef CONTENTFILE_CODEC_ENCODED_WORD_H_
#define CONTENTFILE_CODEC_ENCODED_WORD_H_

#include <cstdint>

namespace contentfile_internal {

// Decodes every encoded word ("=?" charset "?B?" or "?Q?" text "?=") of the
// header value `text` into `output` and returns the number of bytes written,
// never more than `length` (no NUL is written). Text outside encoded words
// is kept as it stands; white space lying only between two encoded words is
// dropped; "_" is a space inside a Q word; an "=?" that opens no complete
// word stays literal text.
// REQUIRES: output holds at least `length` bytes and does not overlap text.
uint32_t DecodeWord(const char* text, uint32_t length, char* output);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_ENCODED_WORD_H_
