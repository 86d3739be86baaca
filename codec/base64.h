// Base64 content transfer decoding (RFC 2045): a pure function over byte
// ranges, and the same decoding resumable over consecutive pieces of one
// content, so that a large content can be decoded through a small buffer.
// Neither allocates.

#ifndef CONTENTFILE_CODEC_BASE64_H_
#define CONTENTFILE_CODEC_BASE64_H_

#include <cstddef>
#include <cstdint>

#include "codec/base64_kernels.h"

namespace contentfile_internal {

// Decodes `length` bytes at `input` into `output` and returns the number of
// bytes written, never more than `length` (no NUL is written). Bytes outside
// the base64 alphabet are skipped; "=" ends the data, finishing the current
// group as the end of the input does. 0 for a null pointer or zero length.
// REQUIRES: output holds at least `length` bytes and does not overlap input.
int32_t Base64Decode(const char* input, uint32_t length, char* output);

// Base64Decode over a content handed in consecutive pieces of any size:
// Decode of every piece in order, then Finish, writes exactly the bytes that
// Base64Decode writes for the whole content.
class Base64StreamDecoder {
 public:
  // Most output a Decode call writes beyond the length of its piece: a
  // group begun in an earlier piece may complete in this one.
  static constexpr size_t kMaxExtraOutput = 2;
  // Most output of Finish.
  static constexpr size_t kMaxFinishOutput = 2;

  Base64StreamDecoder() : Base64StreamDecoder(SelectedBase64Kernel()) {}
  explicit Base64StreamDecoder(Base64Kernel kernel) : kernel_(kernel) {}

  // Decodes the next piece and returns the number of bytes written: whole
  // groups only, the sextets of an unfinished group wait for the next piece
  // or for Finish. Once an "=" has been seen nothing more is decoded.
  // REQUIRES: output holds length + kMaxExtraOutput bytes and does not
  // overlap input.
  size_t Decode(const char* input, size_t length, char* output);

  // Writes the whole bytes of an unfinished group, as the end of the content
  // finishes it, returns their count and makes the decoder ready for a new
  // content. REQUIRES: output holds kMaxFinishOutput bytes.
  size_t Finish(char* output);

 private:
  Base64Kernel kernel_;
  uint32_t bits_ = 0;   // sextets of the current group, lowest last
  int sextets_ = 0;     // how many the current group holds, 0 to 3
  bool ended_ = false;  // an "=" has ended the data
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_BASE64_H_
