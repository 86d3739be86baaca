#include "codec/quoted_printable.h"

#include <cstring>

#include "codec/cpu_features.h"
#include "codec/quoted_printable_digits.h"

namespace contentfile_internal {
namespace {

// Bytes the byte rules take after a kernel stopped at an "=" it does not
// decode, before the kernel is tried again.
constexpr size_t kRulesStretch = 64;

// Writes what the decided sequence `sequence` stands for at *out.
inline void WriteSequence(const QPSequence& sequence, unsigned char** out) {
  if (sequence.kind == QPSequence::kByte ||
      sequence.kind == QPSequence::kLiteral) {
    *(*out)++ = sequence.byte;
  }
}

// Decodes [in, end) by the byte rules, copying the runs between "=" in bulk,
// until it has passed `soft_limit` or reached an "=" sequence that `end`
// leaves undecided; returns where it stopped, always between sequences.
const unsigned char* DecodeByTheRules(const unsigned char* in,
                                      const unsigned char* soft_limit,
                                      const unsigned char* end,
                                      unsigned char** out_position) {
  unsigned char* out = *out_position;
  while (in < end && in < soft_limit) {
    const auto* eq = static_cast<const unsigned char*>(
        std::memchr(in, '=', static_cast<size_t>(end - in)));
    if (eq == nullptr) eq = end;
    const auto run = static_cast<size_t>(eq - in);
    std::memcpy(out, in, run);
    out += run;
    in = eq;
    if (eq == end) break;
    const QPSequence sequence = ReadQPSequence(eq, end);
    if (sequence.kind == QPSequence::kIncomplete) break;
    WriteSequence(sequence, &out);
    in = eq + sequence.length;
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

  // Decide the sequence the last piece left undecided, with as many bytes
  // of this piece as it can still take.
  if (pending_size_ != 0) {
    unsigned char joined[2 * kMaxPendingSequence];
    const size_t taken = static_cast<size_t>(end - in) < kMaxPendingSequence
                             ? static_cast<size_t>(end - in)
                             : kMaxPendingSequence;
    std::memcpy(joined, pending_, pending_size_);
    std::memcpy(joined + pending_size_, in, taken);
    const QPSequence sequence =
        ReadQPSequence(joined, joined + pending_size_ + taken);
    if (sequence.kind == QPSequence::kIncomplete) {
      // Still undecided: the whole piece joins it.
      std::memcpy(pending_ + pending_size_, in, taken);
      pending_size_ += taken;
      return 0;
    }
    WriteSequence(sequence, &out);
    if (sequence.length >= pending_size_) {
      in += sequence.length - pending_size_;
    } else {
      // A literal "=": the bytes held after it are padding, a CR or a hex
      // digit, none of them an "=", so they stand for themselves.
      std::memcpy(out, pending_ + sequence.length,
                  pending_size_ - sequence.length);
      out += pending_size_ - sequence.length;
    }
    pending_size_ = 0;
  }
  while (in < end) {
    if (kernel_ != nullptr) in = kernel_(in, end, &out);
    const unsigned char* const stop =
        DecodeByTheRules(in, in + kRulesStretch, end, &out);
    if (stop == in && stop < end) break;  // an undecided sequence
    in = stop;
  }
  // What is left is an undecided "=" sequence, shorter than
  // kMaxPendingSequence.
  pending_size_ = static_cast<size_t>(end - in);
  std::memcpy(pending_, in, pending_size_);
  return static_cast<size_t>(out - out_begin);
}

size_t QPStreamDecoder::Finish(char* output) {
  size_t written = 0;
  // At the true end a lone "=" stands for nothing and a longer undecided
  // sequence for itself; where the caller cut the content short, the cut
  // sequence writes nothing.
  if (content_complete_ && pending_size_ > 1 && output != nullptr) {
    std::memcpy(output, pending_, pending_size_);
    written = pending_size_;
  }
  pending_size_ = 0;
  return written;
}

int32_t QPDecode(const char* input, uint32_t length, char* output,
                 bool content_complete) {
  if (input == nullptr || output == nullptr || length == 0) return 0;
  QPStreamDecoder decoder;
  decoder.set_content_complete(content_complete);
  const size_t written = decoder.Decode(input, length, output);
  return static_cast<int32_t>(written + decoder.Finish(output + written));
}

}  // namespace contentfile_internal
