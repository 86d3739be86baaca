// The digit rule of quoted-printable "=" pairs, shared by the decoder's
// byte rules and its bulk kernels.

#ifndef CONTENTFILE_CODEC_QUOTED_PRINTABLE_DIGITS_H_
#define CONTENTFILE_CODEC_QUOTED_PRINTABLE_DIGITS_H_

#include <array>
#include <cstdint>

namespace contentfile_internal {

// The value of one byte of an "=" pair: x - 48 up to "9", x - 55 above it,
// both modulo 256. Hex digits in upper case give their value; anything else
// gives what that arithmetic gives, so a malformed pair still decodes to one
// byte.
constexpr std::array<uint8_t, 256> MakeQPDigitTable() {
  std::array<uint8_t, 256> table{};
  for (int x = 0; x < 256; ++x) {
    table[x] = static_cast<uint8_t>(x <= '9' ? x - 48 : x - 55);
  }
  return table;
}

inline constexpr std::array<uint8_t, 256> kQPDigit = MakeQPDigitTable();

// The byte that the pair (first, second) after an "=" stands for.
inline unsigned char QPPairValue(unsigned char first, unsigned char second) {
  return static_cast<unsigned char>((kQPDigit[first] << 4) + kQPDigit[second]);
}

// Decodes the "=" sequence whose pair is (first, second) at *out, moving
// *out past what it wrote: "=" CR and any byte is a soft line break and
// writes nothing, any other pair one byte.
inline void DecodeQPPair(unsigned char first, unsigned char second,
                         unsigned char** out) {
  if (first != '\r') *(*out)++ = QPPairValue(first, second);
}

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_QUOTED_PRINTABLE_DIGITS_H_
