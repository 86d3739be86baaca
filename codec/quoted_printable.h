// Quoted-printable content transfer decoding (RFC 2045): a pure function
// over byte ranges, and the same decoding resumable over consecutive pieces
// of one content, so that a large content can be decoded through a small
// buffer. Neither allocates.

#ifndef CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_
#define CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_

#include <cstddef>
#include <cstdint>

#include "codec/quoted_printable_kernels.h"

namespace contentfile_internal {

// Decodes `length` bytes at `input` into `output` and returns the number of
// bytes written, never more than `length` (no NUL is written). "=" CR is a
// soft line break; "=" and two bytes give one byte by the digit rule; an "="
// among the last two bytes writes nothing. "_" stays as it is.
// REQUIRES: output holds at least `length` bytes and does not overlap input.
int32_t QPDecode(const char* input, uint32_t length, char* output);

// QPDecode over a content handed in consecutive pieces of any size: Decode
// of every piece in order, then Finish, writes exactly the bytes that
// QPDecode writes for the whole content. An "=" sequence cut by the end of
// a piece is completed from the next one.
class QPStreamDecoder {
 public:
  static constexpr size_t kMaxExtraOutput = 0;
  static constexpr size_t kMaxFinishOutput = 0;

  QPStreamDecoder() : QPStreamDecoder(SelectedQPKernel()) {}
  explicit QPStreamDecoder(QPKernel kernel) : kernel_(kernel) {}

  // Decodes the next piece and returns the number of bytes written, never
  // more than `length`.
  // REQUIRES: output holds `length` bytes and does not overlap input.
  size_t Decode(const char* input, size_t length, char* output);

  // Ends the content: an "=" sequence still incomplete writes nothing.
  // Returns 0 and makes the decoder ready for a new content.
  size_t Finish(char* output);

 private:
  QPKernel kernel_;
  // An "=" sequence cut by the end of the last piece: how many of its bytes
  // came (0 when none was cut, 1 for the "=" alone, 2 with the first byte
  // of its pair, kept in pending_first_).
  size_t pending_size_ = 0;
  unsigned char pending_first_ = 0;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_QUOTED_PRINTABLE_H_
