// Quoted-printable content transfer decoding (RFC 2045): a pure function
// over byte ranges, and the same decoding resumable over consecutive pieces
// of one content, so that a large content can be decoded through a small
// buffer. Neither allocates.

#ifndef CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_
#define CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_

#include <cstddef>
#include <cstdint>

#include "codec/quoted_printable_digits.h"
#include "codec/quoted_printable_kernels.h"

namespace contentfile_internal {

// Decodes `length` bytes at `input` into `output` and returns the number of
// bytes written, never more than `length` (no NUL is written):
//  - "=" and two hex digits of either case give one byte;
//  - "=", up to kMaxSoftBreakPadding spaces or tabs, and CR LF or LF are a
//    soft line break and give nothing;
//  - any other "=" stands for itself, and decoding goes on after it.
// At the end of a complete content a lone "=" gives nothing and an "=" that
// the end leaves undecided ("=4", "= ") stands for itself with what follows
// it. When `content_complete` is false the input is a content cut short by
// the caller, and an "=" sequence that the cut leaves undecided gives
// nothing. "_" stays as it is.
// REQUIRES: output holds at least `length` bytes and does not overlap input.
int32_t QPDecode(const char* input, uint32_t length, char* output,
                 bool content_complete);
inline int32_t QPDecode(const char* input, uint32_t length, char* output) {
  return QPDecode(input, length, output, true);
}

// QPDecode over a content handed in consecutive pieces of any size: Decode
// of every piece in order, then Finish, writes exactly the bytes that
// QPDecode writes for the whole content. An "=" sequence cut by the end of
// a piece is completed from the next one.
class QPStreamDecoder {
 public:
  // Bytes of an "=" sequence held back by one call and written by the next.
  static constexpr size_t kMaxExtraOutput = kMaxPendingSequence;
  static constexpr size_t kMaxFinishOutput = kMaxPendingSequence;

  QPStreamDecoder() : QPStreamDecoder(SelectedQPKernel()) {}
  explicit QPStreamDecoder(QPKernel kernel) : kernel_(kernel) {}

  // False when the content will end where the caller cut it short rather
  // than at its true end (see QPDecode). True by default.
  void set_content_complete(bool complete) { content_complete_ = complete; }

  // Decodes the next piece and returns the number of bytes written, at most
  // `length` + kMaxExtraOutput.
  // REQUIRES: output holds that many bytes and does not overlap input.
  size_t Decode(const char* input, size_t length, char* output);

  // Ends the content and writes what an "=" sequence left undecided stands
  // for (at most kMaxFinishOutput bytes, see QPDecode); returns the count
  // and makes the decoder ready for a new content.
  size_t Finish(char* output);

 private:
  QPKernel kernel_;
  bool content_complete_ = true;
  // An "=" sequence that the end of the last piece left undecided.
  size_t pending_size_ = 0;
  unsigned char pending_[kMaxPendingSequence];
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_
