// The "=" sequences of quoted-printable as mail writes them, shared by the
// decoder's byte rules, its bulk kernels and the "Q" encoded words.

#ifndef CONTENTFILE_CODEC_QUOTED_PRINTABLE_DIGITS_H_
#define CONTENTFILE_CODEC_QUOTED_PRINTABLE_DIGITS_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace contentfile_internal {

// Value of a hexadecimal digit of either case, or kNotAHexDigit.
inline constexpr uint8_t kNotAHexDigit = 0xFF;

constexpr std::array<uint8_t, 256> MakeQPDigitTable() {
  std::array<uint8_t, 256> table{};
  for (int x = 0; x < 256; ++x) {
    uint8_t value = kNotAHexDigit;
    if (x >= '0' && x <= '9') value = static_cast<uint8_t>(x - '0');
    if (x >= 'A' && x <= 'F') value = static_cast<uint8_t>(x - 'A' + 10);
    if (x >= 'a' && x <= 'f') value = static_cast<uint8_t>(x - 'a' + 10);
    table[x] = value;
  }
  return table;
}

inline constexpr std::array<uint8_t, 256> kQPDigit = MakeQPDigitTable();

// Spaces and tabs allowed between an "=" and the line end of a soft line
// break. Lines of quoted-printable hold at most 76 bytes, so a longer run
// is not padding: its "=" stands for itself. The bound keeps what a
// streaming decoder must hold back between pieces small and fixed.
inline constexpr size_t kMaxSoftBreakPadding = 76;
// Longest "=" sequence that can still be incomplete: "=", the padding and
// a CR.
inline constexpr size_t kMaxPendingSequence = kMaxSoftBreakPadding + 2;

// What the "=" at the start of a range stands for.
struct QPSequence {
  enum Kind {
    kByte,        // "=" and two hex digits: one byte
    kSoftBreak,   // "=", spaces or tabs, CR LF or LF: nothing
    kLiteral,     // any other "=": the "=" itself (length 1)
    kIncomplete,  // the range ends before the sequence is decided
  };
  Kind kind;
  size_t length;  // bytes taken from the range
  unsigned char byte;
};

// REQUIRES: eq < end and *eq == '='.
inline QPSequence ReadQPSequence(const unsigned char* eq,
                                 const unsigned char* end) {
  const size_t available = static_cast<size_t>(end - eq);
  if (available < 2) return {QPSequence::kIncomplete, available, 0};
  const unsigned char first = eq[1];
  const uint8_t high = kQPDigit[first];
  if (high != kNotAHexDigit) {
    if (available < 3) return {QPSequence::kIncomplete, available, 0};
    const uint8_t low = kQPDigit[eq[2]];
    if (low == kNotAHexDigit) return {QPSequence::kLiteral, 1, '='};
    return {QPSequence::kByte, 3, static_cast<unsigned char>(high << 4 | low)};
  }
  // eq[1, at) is padding.
  size_t at = 1;
  while (at < available && at <= kMaxSoftBreakPadding + 1 &&
         (eq[at] == ' ' || eq[at] == '\t')) {
    ++at;
  }
  if (at - 1 > kMaxSoftBreakPadding) return {QPSequence::kLiteral, 1, '='};
  if (at == available) return {QPSequence::kIncomplete, available, 0};
  if (eq[at] == '\n') return {QPSequence::kSoftBreak, at + 1, 0};
  if (eq[at] != '\r') return {QPSequence::kLiteral, 1, '='};
  if (at + 1 == available) return {QPSequence::kIncomplete, available, 0};
  if (eq[at + 1] == '\n') return {QPSequence::kSoftBreak, at + 2, 0};
  return {QPSequence::kLiteral, 1, '='};
}

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_QUOTED_PRINTABLE_DIGITS_H_
