// Decoding of RFC 2047 encoded words in a header value: a pure function
// over a byte range, no allocation, no charset conversion.

#ifndef CONTENTFILE_CODEC_ENCODED_WORD_H_
#define CONTENTFILE_CODEC_ENCODED_WORD_H_

#include <cstdint>
#include <string_view>

namespace contentfile_internal {

// Decodes every encoded word ("=?" charset "?B?" or "?Q?" text "?=") of the
// header value `text` into `output` and returns the number of bytes written,
// never more than `length` (no NUL is written). Text outside encoded words
// is kept as it stands; white space lying only between two encoded words is
// dropped; "_" is a space inside a Q word; an "=?" that opens no complete
// word stays literal text.
// REQUIRES: output holds at least `length` bytes and does not overlap text.
uint32_t DecodeWord(const char* text, uint32_t length, char* output);

// Told where each run of DecodeWord's output came from.
class EncodedWordObserver {
 public:
  // Output bytes [begin, end) are text as it stood (`charset` empty) or the
  // decoded bytes of one encoded word, which declared `charset` (its
  // RFC 2231 language suffix, "*lang", left out). Runs come in output order
  // and may be empty.
  virtual void OnRun(uint32_t begin, uint32_t end,
                     std::string_view charset) = 0;

 protected:
  ~EncodedWordObserver() = default;
};

// DecodeWord that also reports its runs to `observer` (which may be null).
uint32_t DecodeWord(const char* text, uint32_t length, char* output,
                    EncodedWordObserver* observer);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_ENCODED_WORD_H_
