#include "codec/quoted_printable.h"

#include <cstring>

#include "codec/cpu_features.h"
#include "codec/quoted_printable_digits.h"

namespace contentfile_internal {
namespace {

// Decodes [in, end) by the byte rules, copying the runs between "=" in bulk,
// and returns where it stopped: at an "=" with fewer than two bytes after it
// (its sequence is incomplete and wrote nothing), or at `end`.
const unsigned char* DecodeByTheRules(const unsigned char* in,
                                      const unsigned char* end,
                                      unsigned char** out_position) {
  unsigned char* out = *out_position;
  while (in < end) {
    const auto* eq = static_cast<const unsigned char*>(
        std::memchr(in, '=', static_cast<size_t>(end - in)));
    if (eq == nullptr) eq = end;
    const auto run = static_cast<size_t>(eq - in);
    std::memcpy(out, in, run);
    out += run;
    in = eq;
    if (end - eq < 3) break;
    DecodeQPPair(eq[1], eq[2], &out);
    in = eq + 3;
  }
  *out_position = out;
  return in;
}

}  // namespace

QPKernel SelectedQPKernel() {
#ifdef CONTENTFILE_HAVE_AVX2_KERNELS
  if (CpuHasAvx2()) return QPDecodeBulkAvx2;
#endif
  return nullptr;
}

size_t QPStreamDecoder::Decode(const char* input, size_t length, char* output) {
  if (input == nullptr || output == nullptr) return 0;
  const auto* in = reinterpret_cast<const unsigned char*>(input);
  const unsigned char* const end = in + length;
  auto* out = reinterpret_cast<unsigned char*>(output);
  auto* const out_begin = out;

  // Complete the sequence the last piece cut short: it takes the first
  // 3 - pending_size_ bytes of this one.
  if (pending_size_ != 0) {
    if (pending_size_ == 1 && in < end) {
      pending_first_ = *in++;
      pending_size_ = 2;
    }
    if (in == end) return 0;
    const unsigned char second = *in++;
    DecodeQPPair(pending_first_, second, &out);
    pending_size_ = 0;
  }
  if (kernel_ != nullptr) in = kernel_(in, end, &out);
  in = DecodeByTheRules(in, end, &out);
  // What is left is an "=" and at most one byte after it.
  pending_size_ = static_cast<size_t>(end - in);
  if (pending_size_ == 2) pending_first_ = in[1];
  return static_cast<size_t>(out - out_begin);
}

size_t QPStreamDecoder::Finish(char*) {
  pending_size_ = 0;
  return 0;
}

int32_t QPDecode(const char* input, uint32_t length, char* output) {
  if (input == nullptr || output == nullptr || length == 0) return 0;
  QPStreamDecoder decoder;
  return static_cast<int32_t>(decoder.Decode(input, length, output));
}

}  // namespace contentfile_internal
